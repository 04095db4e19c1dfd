// The extension's content script on approved pages: relays the page library's requests (window
// messages tagged as ours) to the background over one port per page, and the background's
// answers back. It answers the library's probe itself, so the page knows the road is there
// before anything reaches the host. The message shapes are in docs/extension.md.
"use strict";

(() => {
  const api = globalThis.browser ?? globalThis.chrome;
  const TAG = "@QARDEX_EXTENSION_TAG@";
  const TAB_PORT_NAME = "qardex-page";
  const VERSION = api.runtime.getManifest().version;
  /** The port to the background, connected with the first request (again after it closed). */
  let port = null;
  /** The page ids sent on the current port and not yet finished. */
  const open = new Set();

  const toPage = (message) => window.postMessage({ ...message, tag: TAG, to: "page" }, "*");

  function backgroundPort() {
    if (port !== null) return port;
    port = api.runtime.connect({ name: TAB_PORT_NAME });
    port.onMessage.addListener((message) => {
      if (!("event" in message)) open.delete(message.id);  // an answer, an end or an error
      toPage(message);
    });
    port.onDisconnect.addListener(() => {
      // The background was reloaded or updated: what was open is lost.
      port = null;
      for (const id of open) toPage({ id, error: "host-ended", message: "the QARDEX extension restarted" });
      open.clear();
    });
    return port;
  }

  window.addEventListener("message", (event) => {
    const message = event.data;
    if (event.source !== window || !message || message.tag !== TAG || message.to !== "extension") {
      return;
    }
    if (message.probe === true) {
      toPage({ probe: true, version: VERSION });
      return;
    }
    if (!Number.isSafeInteger(message.id)) return;
    const { tag, to, ...request } = message;
    if (request.cancel === true) open.delete(request.id);
    else open.add(request.id);
    backgroundPort().postMessage(request);
  });
})();
