// The extension's background (Chromium's service worker, Firefox's background script): one
// native messaging port to the host for the whole browser profile, shared by every tab. Each
// tab's content script connects a port; a request from it gets an id of this background's own,
// the sender's origin as the browser reports it, and goes to the host; the host's answers,
// events and ends go back to the tab under the page's id. The message shapes are in
// docs/extension.md.
"use strict";

const api = globalThis.browser ?? globalThis.chrome;
const HOST_NAME = "@QARDEX_NATIVE_HOST@";
const TAB_PORT_NAME = "qardex-page";
/** Fields a page may send with its request; anything else, an origin above all, is dropped. */
const PAGE_FIELDS = ["ask", "session", "method", "args"];
const ASKS = new Set(["version", "diagnostics", "open", "close", "watch", "call"]);

/** The host's port, or null until a request needs it (and again after it ended). */
let host = null;
let nextId = 1;
/** Our id -> {tab, pageId, watch, open}: every request the host has not finished yet. */
const pending = new Map();
/**
 * Tab port -> the sessions its page opened and did not close: closed at the host when the tab
 * goes (its page navigated, reloaded or closed), as a page's own close may not leave it in time.
 */
const sessionsOf = new Map();

/** The host's port, connected now when there is none. */
function hostPort() {
  if (host !== null) return host;
  const port = api.runtime.connectNative(HOST_NAME);
  port.onMessage.addListener((message) => fromHost(message));
  port.onDisconnect.addListener(() => hostEnded(port));
  host = port;
  return port;
}

/** @param {object} message one of the host's: {id, status, body}, {id, event} or {id, end} */
function fromHost(message) {
  const entry = message && pending.get(message.id);
  if (!entry) return;  // cancelled meanwhile, or not ours
  const reply = { id: entry.pageId };
  if ("event" in message) {
    reply.event = message.event;
  } else if (message.end === true) {
    reply.end = true;
  } else {
    reply.status = message.status;
    reply.body = message.body;
    if (entry.open && message.status === 201 && typeof message.body?.session === "string") {
      if (!sessionsOf.has(entry.tab)) sessionsOf.set(entry.tab, new Set());
      sessionsOf.get(entry.tab).add(message.body.session);
    }
  }
  // A watch lives on until its end; its refusal (an answer instead of events) ends it too.
  if (!entry.watch || !("event" in message)) pending.delete(message.id);
  send(entry.tab, reply);
}

/** The host went away: every open request of every tab fails; the next request reconnects. */
function hostEnded(port) {
  if (host !== port) return;
  host = null;
  const reason = (port.error ?? api.runtime.lastError)?.message ?? "";
  // Chromium: "Specified native messaging host not found."; Firefox: "No such native application".
  const missing = /not found|no such native application/i.test(reason);
  const error = missing ? "host-not-installed" : "host-ended";
  const message = missing ? `the QARDEX host ${HOST_NAME} is not installed`
    : `the QARDEX host ended${reason ? `: ${reason}` : ""}`;
  const failed = [...pending.values()];
  pending.clear();
  for (const { tab, pageId } of failed) send(tab, { id: pageId, error, message });
}

/** Posts to a tab's port; a tab that went away meanwhile is no error. */
function send(tab, message) {
  try {
    tab.postMessage(message);
  } catch {
    // The tab's port is closed; its disconnect listener cleans up.
  }
}

/** The origin of a tab port's page, as the browser reports it. */
function originOf(sender) {
  if (sender.origin) return sender.origin;
  try {
    return new URL(sender.url).origin;
  } catch {
    return "null";
  }
}

/** Our ids of a tab's requests (all, or the one of `pageId`). */
function idsOf(tab, pageId) {
  const ids = [];
  for (const [id, entry] of pending) {
    if (entry.tab === tab && (pageId === undefined || entry.pageId === pageId)) ids.push(id);
  }
  return ids;
}

/** Stops requests at the host: it gives up a call or ends a watch. */
function cancel(ids) {
  for (const id of ids) {
    pending.delete(id);
    if (host !== null) host.postMessage({ id, cancel: true });
  }
}

/** @param {object} message a page's request {id, ask, ...} or {id, cancel: true} */
function fromTab(tab, message) {
  if (!message || typeof message !== "object" || !Number.isSafeInteger(message.id)) return;
  if (message.cancel === true) {
    cancel(idsOf(tab, message.id));
    return;
  }
  if (!ASKS.has(message.ask)) {
    send(tab, { id: message.id, error: "protocol", message: `unknown ask ${message.ask}` });
    return;
  }
  const id = nextId++;
  const request = { id, origin: originOf(tab.sender) };
  for (const field of PAGE_FIELDS) if (field in message) request[field] = message[field];
  pending.set(id, { tab, pageId: message.id, watch: message.ask === "watch", open: message.ask === "open" });
  if (message.ask === "close") sessionsOf.get(tab)?.delete(message.session);
  try {
    hostPort().postMessage(request);
  } catch {
    // A port that failed at once reports through its disconnect, which fails this request too.
  }
}

api.runtime.onConnect.addListener((tab) => {
  if (tab.name !== TAB_PORT_NAME) return;
  tab.onMessage.addListener((message) => fromTab(tab, message));
  // A tab that closes (or navigates) gives up its calls and watches, and its sessions.
  tab.onDisconnect.addListener(() => {
    cancel(idsOf(tab));
    closeSessions(tab);
  });
});

/** Closes the sessions a tab left open; their answers find no request and are dropped. */
function closeSessions(tab) {
  const sessions = sessionsOf.get(tab) ?? new Set();
  sessionsOf.delete(tab);
  if (host === null) return;  // a host that ended forgot them
  for (const session of sessions) {
    host.postMessage({ id: nextId++, origin: originOf(tab.sender), ask: "close", session });
  }
}
