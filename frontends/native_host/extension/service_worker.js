// The bridge between the bank's pages and the native host. A page on one of
// ALLOWED_ORIGINS sends a request object of the host's vocabulary and gets an
// object back:
//   chrome.runtime.sendMessage(id, request): one request on a host of its
//     own, its reply with a long result joined from its pieces. Nothing
//     (charset, pieces) carries over to the next message.
//   chrome.runtime.connect(id): one host for the life of the port; requests
//     are answered in order, replies handed through as the host gives them,
//     so a long result comes in pieces that the page fetches with
//     "GetDataPackage".
// A host reply always carries "Resp"; the bridge's own answer is
// {"Error": text} and nothing of it reaches the host.

'use strict';

importScripts('allowed_origins.js', 'host_client.js');

const ORIGIN_REFUSED = 'origin not allowed';
const NOT_A_REQUEST = 'not a request';
const HOST_UNAVAILABLE = 'host not available';

// Pattern "scheme://host/*", "scheme://*.domain/*" (the domain and every
// name under it) or "scheme://host:port/*"; without a port any port
// matches, as in the browser's own check of externally_connectable.
const PATTERN = /^(https?):\/\/(\*\.)?([^/:*]+)(?::(\d+))?\/\*$/;

function originAllowed(origin) {
  let url;
  try {
    url = new URL(origin);
  } catch (error) {
    return false;  // "null", or no origin at all
  }
  const port = url.port || (url.protocol === 'https:' ? '443' : '80');
  return ALLOWED_ORIGINS.some((pattern) => {
    const match = PATTERN.exec(pattern);
    if (!match || url.protocol !== match[1] + ':') {
      return false;
    }
    const [, , anyName, host, patternPort] = match;
    const hostMatches =
        url.hostname === host || (anyName !== undefined && url.hostname.endsWith('.' + host));
    return hostMatches && (patternPort === undefined || patternPort === port);
  });
}

function senderOrigin(sender) {
  if (sender.origin) {
    return sender.origin;
  }
  try {
    return new URL(sender.url).origin;
  } catch (error) {
    return '';
  }
}

// The command's name: an object with exactly one "CmdType" key (the host
// takes the key in any case) holding a non-empty string; null otherwise, as
// the host would answer nothing the browser passes on.
function commandName(request) {
  if (typeof request !== 'object' || request === null || Array.isArray(request)) {
    return null;
  }
  const keys = Object.keys(request).filter((key) => key.toLowerCase() === 'cmdtype');
  if (keys.length !== 1) {
    return null;
  }
  const name = request[keys[0]];
  return typeof name === 'string' && name !== '' ? name : null;
}

// One page connection: its own host, its requests answered in order.
class Session {
  constructor(joinPieces) {
    this.host = new UsbKeyHost();
    this.joinPieces = joinPieces;
    this.queue = Promise.resolve();
  }

  answer(request) {
    const reply = this.queue.then(() => this.forward(request));
    this.queue = reply;
    return reply;
  }

  async forward(request) {
    const name = commandName(request);
    if (name === null) {
      return {Error: NOT_A_REQUEST};
    }
    try {
      // A page's own "GetDataPackage" gets the host's piece as it is.
      if (this.joinPieces && name !== 'GetDataPackage') {
        return await this.host.requestWhole(request);
      }
      return await this.host.request(request);
    } catch (error) {
      return {Error: HOST_UNAVAILABLE};
    }
  }

  close() {
    this.host.disconnect();
  }
}

chrome.runtime.onMessageExternal.addListener((request, sender, sendResponse) => {
  if (!originAllowed(senderOrigin(sender))) {
    sendResponse({Error: ORIGIN_REFUSED});
    return false;
  }
  const session = new Session(true);
  session.answer(request).then((reply) => {
    session.close();
    sendResponse(reply);
  });
  return true;  // the answer comes later
});

function post(port, message) {
  try {
    port.postMessage(message);
  } catch (error) {
    // The page went away first.
  }
}

chrome.runtime.onConnectExternal.addListener((port) => {
  if (!originAllowed(senderOrigin(port.sender))) {
    post(port, {Error: ORIGIN_REFUSED});
    port.disconnect();
    return;
  }
  const session = new Session(false);
  port.onMessage.addListener((request) => {
    session.answer(request).then((reply) => {
      post(port, reply);
      // The host's state is gone with it: so is the page's connection.
      if (session.host.closed) {
        port.disconnect();
      }
    });
  });
  port.onDisconnect.addListener(() => session.close());
});
