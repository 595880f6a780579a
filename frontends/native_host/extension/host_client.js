// A client of the native-messaging host orva_xr_usbkey_extension over one
// port, opened at the first request. The host answers requests strictly one
// after another and keeps state between them (its charset, the pieces of a
// long reply), so its caller sends one request at a time.

'use strict';

const HOST_NAME = 'orva_xr_usbkey_extension';

class UsbKeyHost {
  constructor(name = HOST_NAME) {
    this.name = name;
    this.port = null;
    this.waiting = null;  // {resolve, reject} of the request in flight
    this.closed = false;  // the port was opened and has closed since
  }

  open() {
    this.port = chrome.runtime.connectNative(this.name);
    this.port.onMessage.addListener((message) => {
      const waiting = this.waiting;
      this.waiting = null;
      if (waiting) {
        waiting.resolve(message);
      }
    });
    this.port.onDisconnect.addListener(() => {
      // lastError must be read, or the browser logs it as unchecked.
      void chrome.runtime.lastError;
      this.closed = true;
      this.port = null;
      const waiting = this.waiting;
      this.waiting = null;
      if (waiting) {
        waiting.reject(new Error('host port closed'));
      }
    });
  }

  // Closing our end fires no onDisconnect here: the request in flight ends now.
  disconnect() {
    if (this.port) {
      this.port.disconnect();
      this.port = null;
    }
    this.closed = true;
    const waiting = this.waiting;
    this.waiting = null;
    if (waiting) {
      waiting.reject(new Error('host port closed'));
    }
  }

  // The host's reply to one request. A closed port is not opened again: the
  // host's state went with it.
  request(message) {
    return new Promise((resolve, reject) => {
      if (this.closed) {
        reject(new Error('host port closed'));
        return;
      }
      if (!this.port) {
        this.open();
      }
      this.waiting = {resolve, reject};
      this.port.postMessage(message);
    });
  }

  // The reply to a request whose result may come in pieces: while "leftsize"
  // is above 0 the rest is fetched with "GetDataPackage", and the reply
  // carries the joined contents in "Resp", as a short result would.
  async requestWhole(message) {
    const first = await this.request(message);
    if (!first || typeof first.Resp !== 'object' || first.Resp === null) {
      return first;
    }
    const parts = [];
    let piece = first.Resp;
    for (;;) {
      if (typeof piece.content !== 'string' || typeof piece.leftsize !== 'number') {
        throw new Error('malformed piece');
      }
      parts.push(piece.content);
      if (piece.leftsize <= 0) {
        break;
      }
      const next = await this.request({CmdType: 'GetDataPackage'});
      piece = next && next.Resp;
      if (typeof piece !== 'object' || piece === null) {
        throw new Error('malformed piece');
      }
    }
    return {CmdType: first.CmdType, Resp: parts.join('')};
  }
}
