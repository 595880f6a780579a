// A client of the native-messaging host orva_xr_usbkey_extension over one
// long-lived port. The host answers requests strictly one after another and
// keeps state between them (its charset, the pieces of a long reply), so
// requests go out one at a time over the same port.

'use strict';

const HOST_NAME = 'orva_xr_usbkey_extension';

class UsbKeyHost {
  constructor(name = HOST_NAME) {
    this.name = name;
    this.port = null;
    this.waiting = null;  // {resolve, reject} of the request in flight
    this.queue = Promise.resolve();
    this.disconnected = null;  // why the port closed, once it has
  }

  connect() {
    if (this.port) {
      return;
    }
    this.port = chrome.runtime.connectNative(this.name);
    this.port.onMessage.addListener((message) => {
      const waiting = this.waiting;
      this.waiting = null;
      if (waiting) {
        waiting.resolve(message);
      }
    });
    this.port.onDisconnect.addListener(() => {
      const error = chrome.runtime.lastError;
      this.disconnected = error ? error.message : 'disconnected';
      this.port = null;
      const waiting = this.waiting;
      this.waiting = null;
      if (waiting) {
        waiting.reject(new Error('host port closed: ' + this.disconnected));
      }
    });
  }

  disconnect() {
    if (this.port) {
      this.port.disconnect();
      this.port = null;
    }
  }

  // One request and its reply. A request the host cannot read (no usable
  // "CmdType") gets no reply the browser passes on: timeoutMs ends the wait
  // with null instead.
  request(message, timeoutMs = 60000) {
    const run = () => new Promise((resolve, reject) => {
      this.connect();
      const timer = setTimeout(() => {
        this.waiting = null;
        resolve(null);
      }, timeoutMs);
      this.waiting = {
        resolve: (reply) => { clearTimeout(timer); resolve(reply); },
        reject: (error) => { clearTimeout(timer); reject(error); },
      };
      this.port.postMessage(message);
    });
    const result = this.queue.then(run, run);
    this.queue = result.catch(() => {});
    return result;
  }

  // A request whose result may come in pieces: fetches the rest with
  // "GetDataPackage" while "leftsize" is above 0 and joins the contents.
  // Answers {resp, leftsizes}: leftsizes is empty for a result in one piece.
  async requestWhole(message) {
    const first = await this.request(message);
    if (!first || typeof first.Resp !== 'object') {
      return {resp: first ? first.Resp : null, leftsizes: []};
    }
    const parts = [first.Resp.content];
    const leftsizes = [first.Resp.leftsize];
    let leftsize = first.Resp.leftsize;
    while (leftsize > 0) {
      const next = await this.request({CmdType: 'GetDataPackage'});
      parts.push(next.Resp.content);
      leftsizes.push(next.Resp.leftsize);
      leftsize = next.Resp.leftsize;
    }
    return {resp: parts.join(''), leftsizes};
  }
}
