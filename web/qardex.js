// QARDEX page library: the card control's twelve methods for pages in modern browsers, through
// the QARDEX browser extension and its host when the page has it, else through the local
// service mQARDEXService.exe (JSON over HTTPS on this computer). An ES module without
// dependencies:
//
//   import { connect, QardexError } from "./qardex.js";
//   const card = await connect();
//   const basic = await card.GetBasic();   // the control's result; card.lastError its code
//
// The build writes this file to out/win64/web/qardex.js with the "@...@" values below filled in
// from its constants and the service's method table; ship that copy, not this template. From
// the same copy it writes qardex.cjs (for require) and qardex.global.js (for a <script> tag: the
// global QARDEX).
// The guide for page developers is docs/page-developers.md.

// Browsers resolve a name under .localhost to this computer themselves and never send it to a
// proxy; the service answers its other name, QARDEX_LOCAL_HOST, too.
const DEFAULT_HOST = "@QARDEX_LOCAL_LOOPBACK_HOST@";
// A service set up by an earlier version has a certificate for this name alone: connect() tries
// it when nothing answers at the default one.
const EARLIER_HOST = "@QARDEX_LOCAL_HOST@";
const DEFAULT_PORT = Number("@QARDEX_LOCAL_PORT@");
/**
 * This library's version: the product's, with the default host and port as build metadata
 * (1.0.0+local.qardex.localhost.14443), as in its package.json.
 */
export const version = "@QARDEX_WEB_VERSION@";
/** The page protocol's revision this library speaks (protocol/protocol_revision.h). */
const PROTOCOL = Number("@QARDEX_PAGE_PROTOCOL@");
/**
 * The oldest revision of the service (and of the host) this library works with. 0: every one,
 * those that report no revision included; raised when the library comes to need a later one.
 */
const OLDEST_SERVICE_PROTOCOL = 0;
/** The method names, in the order of the control's dispatch identifiers. */
const METHOD_NAMES = Object.freeze("@QARDEX_METHOD_NAMES@".split(","));
/**
 * Longer than the slowest call: H_Sign may take 380 s when the authentication server uses every
 * one of its limits, and another tab's card call may be running first.
 */
const DEFAULT_TIMEOUT_MS = 400000;
/** Pauses before a reader watch connects again after losing the service, growing to the last. */
const WATCH_RETRY_MS = [500, 1000, 2000];
/** Permission names under which browsers have shipped Local Network Access (loopback first). */
const LNA_PERMISSIONS = ["loopback-network", "local-network-access", "local-network"];
/** Marks the window messages between this library and the extension's content script. */
const EXTENSION_TAG = "@QARDEX_EXTENSION_TAG@";
/**
 * How long connect() waits for the extension's content script to answer its probe before it
 * takes the service. The script is in the page before the page's own scripts run; headless
 * Chromium answered in 3 to 18 ms at a load average of 10 to 12 on two cores (docs/extension.md),
 * so this leaves ten times that, and a page without the extension loses at most this much.
 */
const PROBE_TIMEOUT_MS = 250;

/**
 * Every failure of the library. `code` says what went wrong:
 * - "service-not-running": nothing answered: the service is stopped or not installed, or the
 *   browser does not trust its certificate.
 * - "origin-not-approved": the service runs but refuses this page's origin (scheme and host).
 * - "local-network-access-denied": the browser's Local Network Access permission keeps this page
 *   from reaching services on this computer: not allowed yet (the user refused, or was not asked).
 * - "local-network-access-blocked": the browser refused that permission before the page asked:
 *   an administrator's policy blocks this site (LoopbackNetworkBlockedForUrls,
 *   LocalNetworkAccessBlockedForUrls), or the user blocked it earlier for this site.
 * - "frame-not-allowed": the page runs in a frame whose element does not delegate Local Network
 *   Access (`allow="local-network-access; loopback-network"`), so the browser refuses it.
 * - "session-expired": the service forgot the session, and a new one was forgotten too.
 * - "bad-request": the service refused the call's arguments (HTTP 400).
 * - "busy": the service has too many sessions open for this site (HTTP 429), or the card stayed
 *   in use by another call for the service's whole card wait (HTTP 503): try again later.
 * - "interrupted": the call ended without a result because the service's worker for this user
 *   stopped during it (HTTP 502). The call was not repeated; the next call starts a new worker.
 * - "caller-not-allowed": the service works only for programs of the user signed in to this
 *   desktop session (HTTP 403 to a program of a service or another user).
 * - "timeout": no answer within the `timeoutMs` given to `connect`.
 * - "extension-not-installed": `transport: "extension"` was asked for, and no QARDEX extension
 *   answered on this page (not installed or disabled, or not running on this origin).
 * - "host-not-installed": the extension runs, but its host program is not installed.
 * - "host-ended": the extension's host program ended during the request (the next request
 *   starts it again).
 * - "insecure-page": the page is not a secure context (http:// from another computer), and
 *   browsers let no such page reach this computer; nothing was sent.
 * - "requires-update": the service (or the host) and this library do not work together;
 *   `outdated` says which side is too old: "library", "service" or "host".
 * - "protocol": any other unexpected answer.
 * `status` is the HTTP status (over the extension: the host's) when there was an answer.
 */
export class QardexError extends Error {
  /**
   * @param {string} code
   * @param {string} message
   * @param {number} [status]
   * @param {"library" | "service" | "host"} [outdated] "requires-update": the side too old
   */
  constructor(code, message, status, outdated) {
    super(message);
    this.name = "QardexError";
    this.code = code;
    this.status = status;
    if (outdated !== undefined) this.outdated = outdated;
  }
}

/** The error for a page that is not a secure context, or null for one that is. */
function insecurePage() {
  if (globalThis.isSecureContext !== false) return null;
  return new QardexError("insecure-page", "this page is not a secure context (served over " +
    "https://, or from http://localhost): browsers let it reach no service on this computer");
}

/**
 * The side too old in a new session's answer, or null when this library and the other end work
 * together. A revision the answer does not carry is 0 (services before the first revision).
 * @param {object} answer
 * @param {"service" | "extension"} transport
 * @returns {"library" | "service" | "host" | null}
 */
function outdatedSide(answer, transport) {
  const revision = (name) => (Number.isSafeInteger(answer[name]) ? answer[name] : 0);
  if (revision("protocol") < OLDEST_SERVICE_PROTOCOL) {
    return transport === "extension" ? "host" : "service";
  }
  return PROTOCOL < revision("oldestLibraryProtocol") ? "library" : null;
}

/**
 * fetch with a time limit on the whole exchange, body included; a request the limit cut off
 * rejects with QardexError "timeout", one without an answer with the browser's TypeError, and
 * an answer that breaks off with QardexError "protocol". A request the page's `signal` aborts
 * rejects at once with the signal's reason.
 * @param {string} url
 * @param {RequestInit} init
 * @param {number} timeoutMs
 * @param {AbortSignal} [signal]
 * @returns {Promise<{status: number, ok: boolean, text: string}>}
 */
async function timedFetch(url, init, timeoutMs, signal) {
  signal?.throwIfAborted();
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), timeoutMs);
  const giveUp = () => controller.abort();
  signal?.addEventListener("abort", giveUp);
  try {
    const response = await fetch(url, { ...init, signal: controller.signal, cache: "no-store" });
    let text;
    try {
      text = await response.text();
    } catch (error) {
      if (controller.signal.aborted) throw error;
      throw new QardexError("protocol", "the service's answer broke off", response.status);
    }
    return { status: response.status, ok: response.ok, text };
  } catch (error) {
    signal?.throwIfAborted();
    if (controller.signal.aborted) {
      throw new QardexError("timeout", `no answer from the QARDEX service within ${timeoutMs} ms`);
    }
    throw error;
  } finally {
    clearTimeout(timer);
    signal?.removeEventListener("abort", giveUp);
  }
}

/**
 * The Local Network Access permission's state under the first name this browser knows.
 * @returns {Promise<"granted" | "denied" | "prompt" | null>} null: no such permission here
 */
async function localNetworkAccessState() {
  if (!globalThis.navigator?.permissions) return null;
  for (const name of LNA_PERMISSIONS) {
    try {
      return (await navigator.permissions.query({ name })).state;
    } catch {
      // This browser does not know the name.
    }
  }
  return null;
}

/**
 * The permission's state before this page's first request to the service: a refusal the page's
 * own request led to comes later.
 * @type {Promise<"granted" | "denied" | "prompt" | null> | null}
 */
let permissionBefore = null;

/**
 * Whether this page runs in a frame that the browser keeps from Local Network Access: its frame
 * element does not delegate the permission (a frame of the same origin has it by default).
 * Browsers without a permissions-policy interface are not asked.
 */
function frameWithoutLocalNetworkAccess() {
  if (typeof window === "undefined" || window.self === window.top) return false;
  const policy = globalThis.document?.permissionsPolicy ?? globalThis.document?.featurePolicy;
  if (typeof policy?.allowsFeature !== "function") return false;
  const known = typeof policy.features === "function" ? policy.features() : [];
  const name = LNA_PERMISSIONS.find((feature) => known.includes(feature));
  return name !== undefined && !policy.allowsFeature(name);
}

/**
 * Why a request failed without an answer. For a page the browser shows an absent service and a
 * refused origin alike (a refusal carries no CORS headers): a "no-cors" request, whose answer
 * stays opaque, tells whether anything answered at all. A permission denied before the page's
 * first request was refused by a policy or an earlier choice, not in answer to this page.
 * @param {string} base
 * @param {number} timeoutMs
 * @param {string | null} before the permission's state before the page's first request
 * @returns {Promise<QardexError>}
 */
async function whyUnanswered(base, timeoutMs, before) {
  if (before === "denied") {
    return new QardexError("local-network-access-blocked", "the browser blocks this site from " +
      "services on this computer (Local Network Access): an administrator's policy, or an " +
      "earlier refusal for this site");
  }
  const refused = new QardexError("local-network-access-denied",
    "the browser does not let this page reach services on this computer (Local Network Access)");
  const localNetworkAccessDenied = async () => (await localNetworkAccessState()) === "denied";
  if (await localNetworkAccessDenied()) return refused;
  try {
    await timedFetch(`${base}/v1/version`, { mode: "no-cors" }, timeoutMs);
    return new QardexError("origin-not-approved",
      `the QARDEX service does not serve pages of ${location.origin}`);
  } catch (error) {
    if (error instanceof QardexError) return error;
  }
  // The probe may itself have led the browser to refuse the permission.
  if (await localNetworkAccessDenied()) return refused;
  return new QardexError("service-not-running",
    `no QARDEX service answers at ${base} (not running, or its certificate not trusted)`);
}

/**
 * The error of a refusal: a 404 for an unknown session is "session-expired".
 * @param {number} status
 * @param {unknown} answer
 */
function refusal(status, answer) {
  const reason = answer && typeof answer.error === "string" ? answer.error : `HTTP ${status}`;
  const code = status === 404 && reason === "unknown session" ? "session-expired"
    : status === 400 ? "bad-request"
    : status === 429 || status === 503 ? "busy"
    : status === 502 ? "interrupted"
    // Over the extension the host tells a refused origin; the service's refusal is unseen.
    : status === 403 && reason === "origin not approved" ? "origin-not-approved"
    : status === 403 ? "caller-not-allowed"
    : "protocol";
  return new QardexError(code, `the QARDEX service refused the request: ${reason}`, status);
}

/**
 * One request on a road: the answer's JSON body when its status is 2xx (null when empty), or a
 * QardexError.
 * @param {Road} road
 * @param {"version" | "diagnostics" | "open" | "close" | "call"} ask
 * @param {{session?: string, method?: string, args?: string[]}} [fields]
 * @param {AbortSignal} [signal]
 */
async function request(road, ask, fields = {}, signal) {
  const { status, answer } = await road.exchange(ask, fields, signal);
  if (status >= 200 && status < 300) return answer;
  throw refusal(status, answer);
}

/**
 * @typedef {object} Road how requests reach the card: the service over HTTPS, or the extension
 * @property {"service" | "extension"} transport
 * @property {(ask: string, fields: object, signal?: AbortSignal) =>
 *   Promise<{status: number, answer: unknown}>} exchange
 * @property {(session: string, signal: AbortSignal) => AsyncIterable<object>} watch
 *   the session's reader events; throws "session-expired" for a session the other end forgot
 */

/**
 * The service's road: each request as the HTTPS interface has it.
 * @param {{host?: string, port?: number, timeoutMs?: number}} options
 * @returns {Road}
 */
function serviceRoad(options) {
  const host = options.host ?? DEFAULT_HOST;
  const port = options.port ?? DEFAULT_PORT;
  const base = `https://${host}:${port}`;
  const timeoutMs = options.timeoutMs ?? DEFAULT_TIMEOUT_MS;
  const routes = {
    version: () => ["GET", "/v1/version"],
    diagnostics: () => ["GET", "/v1/diagnostics"],
    open: () => ["POST", "/v1/session"],
    close: ({ session }) => ["DELETE", `/v1/session/${session}`],
    call: ({ session, method }) => ["POST", `/v1/session/${session}/${method}`],
  };
  return {
    transport: "service",
    async exchange(ask, fields, signal) {
      const insecure = insecurePage();
      if (insecure) throw insecure;
      if (frameWithoutLocalNetworkAccess()) {
        throw new QardexError("frame-not-allowed", "this page's frame does not delegate Local " +
          "Network Access: its iframe needs allow=\"local-network-access; loopback-network\"");
      }
      permissionBefore ??= localNetworkAccessState();
      const before = await permissionBefore;
      const [method, path] = routes[ask](fields);
      // A close outlives the page that sends it while it unloads.
      const init = { method, mode: "cors", credentials: "omit", keepalive: ask === "close" };
      // A JSON text sent as plain text keeps the request a simple one: no preflight before it.
      if (ask === "call") init.body = JSON.stringify({ args: fields.args });
      let response;
      try {
        response = await timedFetch(base + path, init, timeoutMs, signal);
      } catch (error) {
        if (error instanceof QardexError || signal?.aborted) throw error;
        throw await whyUnanswered(base, timeoutMs, before);
      }
      try {
        return { status: response.status, answer: response.text ? JSON.parse(response.text) : null };
      } catch {
        throw new QardexError("protocol",
          `the service's answer is not JSON (HTTP ${response.status})`, response.status);
      }
    },
    async *watch(session, signal) {
      const response = await fetch(`${base}/v1/session/${session}/events`,
        { mode: "cors", credentials: "omit", cache: "no-store", signal });
      if (!response.ok || !response.body) {
        await response.body?.cancel();
        throw response.status === 404
          ? new QardexError("session-expired", "the service forgot the session", 404)
          : refusal(response.status, null);
      }
      yield* serverEvents(response.body);
    },
  };
}

/**
 * A card session: the control's twelve methods (GetVersion, GetRandom, GetBasic, H_Sign,
 * GetReaders, GetHCConnectNo, ServiceStatus, GetName, ZEL_FormatMessage,
 * SecureGetBasicWithParam, GetLastError, EnCrypt), each returning a promise of the control's
 * result (string or number). The session's id stays inside this object; it is never logged.
 */
class Card {
  #road;
  /** @type {string | null} */
  #session = null;
  /** @type {Promise<string> | null} */
  #opening = null;
  #lastError = 0;

  /** @param {Road} road */
  constructor(road) {
    this.#road = road;
    for (const name of METHOD_NAMES) {
      Object.defineProperty(this, name, {
        value: (...args) => {
          // A trailing object is the call's options ({signal}); arguments are strings.
          const options = typeof args.at(-1) === "object" && args.at(-1) !== null ? args.pop() : {};
          return this.#call(name, args, options.signal);
        },
        enumerable: true,
      });
    }
  }

  /** The road this card's requests take: "extension" or "service". */
  get transport() {
    return this.#road.transport;
  }

  /** The lastError of the last answer (the control's GetLastError() after that call). */
  get lastError() {
    return this.#lastError;
  }

  /**
   * The current session's id; opens one when there is none or when `expired` is still current.
   * Calls that find their session expired at the same time share one new session.
   * @param {string | null} [expired]
   * @returns {Promise<string>}
   */
  #sessionId(expired = null) {
    if (this.#session !== null && this.#session !== expired) return Promise.resolve(this.#session);
    if (this.#opening === null) {
      this.#session = null;
      this.#opening = request(this.#road, "open").then(
        (answer) => {
          this.#opening = null;
          if (!answer || typeof answer.session !== "string") {
            throw new QardexError("protocol", "the session answer lacks its id", 201);
          }
          const outdated = outdatedSide(answer, this.#road.transport);
          if (outdated !== null) {
            request(this.#road, "close", { session: answer.session }).catch(() => null);
            const revisions = `(protocol ${PROTOCOL}, the other end's ${answer.protocol ?? "none"})`;
            throw new QardexError("requires-update", outdated === "library"
              ? `this page's QARDEX library is too old for QARDEX on this computer ${revisions}`
              : `the QARDEX ${outdated} on this computer is too old for this page ${revisions}`,
            201, outdated);
          }
          this.#session = answer.session;
          keepOpen(this);
          return answer.session;
        },
        (error) => {
          this.#opening = null;
          throw error;
        });
    }
    return this.#opening;
  }

  /**
   * A card with its session open.
   * @param {Road} road
   */
  static async open(road) {
    const card = new Card(road);
    await card.#sessionId();
    return card;
  }

  /**
   * One method call; an expired session is replaced once (the new session starts like a new
   * control: lastError 0, a fresh random sequence).
   * @param {string} name
   * @param {unknown[]} args
   */
  async #call(name, args, signal) {
    let expired = null;
    for (let attempt = 0; ; attempt++) {
      signal?.throwIfAborted();
      const session = await this.#sessionId(expired);
      try {
        const answer = await request(this.#road, "call", { session, method: name, args }, signal);
        if (typeof answer !== "object" || answer === null || !("result" in answer) ||
            typeof answer.lastError !== "number") {
          throw new QardexError("protocol", `the answer to ${name} lacks its result`, 200);
        }
        this.#lastError = answer.lastError;
        return answer.result;
      } catch (error) {
        if (!(error instanceof QardexError) || error.code !== "session-expired" || attempt > 0) {
          throw error;
        }
        expired = session;
      }
    }
  }

  /**
   * Follows the readers: `listener` gets first {type: "state", readers: [{index, reader, card,
   * hc}]}, then each change as {type, index, reader} with type "reader-added", "reader-removed",
   * "card-inserted" (with `hc`: whether it is an HC card) or "card-removed". After the service
   * was lost (stopped, restarted) the watch connects again by itself and starts with the state.
   * @param {(event: object) => void} listener
   * @returns {() => void} stops the watch
   */
  watch(listener) {
    const controller = new AbortController();
    this.#follow(listener, controller.signal).catch(() => undefined);
    return () => controller.abort();
  }

  /**
   * @param {(event: object) => void} listener
   * @param {AbortSignal} signal
   */
  async #follow(listener, signal) {
    let expired = null;
    for (let failures = 0; !signal.aborted;) {
      const retried = expired !== null;
      let session = null;
      try {
        session = await this.#sessionId(expired);
        expired = null;
        for await (const event of this.#road.watch(session, signal)) {
          failures = 0;
          try {
            listener(event);
          } catch (error) {
            setTimeout(() => { throw error; });  // the page's own fault: reported, watch goes on
          }
        }
      } catch (error) {
        // A service that forgot the session (restarted) gets a new one at once, but only once;
        // any other failure: the other end is not there (yet), try again after a pause.
        if (session !== null && error instanceof QardexError && error.code === "session-expired") {
          expired = session;
          if (!retried) continue;
        }
      }
      await pause(WATCH_RETRY_MS[Math.min(failures++, WATCH_RETRY_MS.length - 1)], signal);
    }
  }

  /** Ends the session on the service. A later call opens a new one. */
  async close() {
    // A session being opened for a call that found its own expired is closed once it is open.
    if (this.#opening !== null) await this.#opening.catch(() => null);
    const session = this.#session;
    this.#session = null;
    openCards.delete(this);
    if (session === null) return;
    try {
      await request(this.#road, "close", { session });
    } catch (error) {
      if (!(error instanceof QardexError) || error.code !== "session-expired") throw error;
    }
  }
}

/**
 * The cards with a session open. When the page goes away (navigates, reloads, closes, or enters
 * the back-forward cache) their sessions are closed, each by a request sent at once that outlives
 * the page; a card used again afterwards opens a new session.
 * @type {Set<Card>}
 */
const openCards = new Set();
let closingOnPageHide = false;

/** @param {Card} card */
function keepOpen(card) {
  openCards.add(card);
  if (closingOnPageHide || typeof globalThis.window?.addEventListener !== "function") return;
  closingOnPageHide = true;
  window.addEventListener("pagehide", () => {
    for (const open of openCards) open.close().catch(() => undefined);
  });
}

/**
 * The JSON data of each event of a server-sent event stream.
 * @param {ReadableStream<Uint8Array>} body
 */
async function* serverEvents(body) {
  const reader = body.getReader();
  const decoder = new TextDecoder();
  let pending = "";
  try {
    for (;;) {
      const { value, done } = await reader.read();
      if (done) return;
      pending += decoder.decode(value, { stream: true });
      let end;
      while ((end = pending.indexOf("\n\n")) >= 0) {
        const data = pending.slice(0, end).split("\n").filter((line) => line.startsWith("data:"))
          .map((line) => line.slice(5).trimStart()).join("\n");
        pending = pending.slice(end + 2);
        if (data) yield JSON.parse(data);
      }
    }
  } finally {
    reader.releaseLock();
  }
}

/**
 * Waits `ms`, or less when `signal` aborts.
 * @param {number} ms
 * @param {AbortSignal} signal
 */
function pause(ms, signal) {
  return new Promise((resolve) => {
    const timer = setTimeout(resolve, ms);
    signal.addEventListener("abort", () => { clearTimeout(timer); resolve(); }, { once: true });
  });
}

/**
 * The window messages to and from the extension's content script: answers by request id, and
 * whoever waits for the probe's answer. Set up with the first probe.
 */
const extension = { listening: false, nextId: 1, waiting: new Map(), probes: new Set() };

/** @param {object} message */
function toExtension(message) {
  window.postMessage({ ...message, tag: EXTENSION_TAG, to: "extension" }, location.origin);
}

function listenToExtension() {
  if (extension.listening) return;
  extension.listening = true;
  window.addEventListener("message", (event) => {
    const message = event.data;
    // Only the content script, in this very window, posts our tag to the page.
    if (event.source !== window || !message || message.tag !== EXTENSION_TAG ||
        message.to !== "page") return;
    if (message.probe === true) {
      for (const answered of extension.probes) answered();
      extension.probes.clear();
    } else {
      extension.waiting.get(message.id)?.(message);
    }
  });
}

/** @returns {Promise<boolean>} whether the extension's content script runs on this page. */
function extensionPresent() {
  if (typeof window === "undefined" || typeof window.postMessage !== "function") {
    return Promise.resolve(false);
  }
  listenToExtension();
  return new Promise((resolve) => {
    const answered = () => { clearTimeout(timer); resolve(true); };
    const timer = setTimeout(() => { extension.probes.delete(answered); resolve(false); },
      PROBE_TIMEOUT_MS);
    extension.probes.add(answered);
    toExtension({ probe: true });
  });
}

/** The failure the background reports for a request that got no answer from the host. */
function hostFailure(message) {
  const code = message.error === "host-ended" || message.error === "host-not-installed"
    ? message.error : "protocol";
  return new QardexError(code, String(message.message ?? message.error));
}

/**
 * The extension's road: each request a window message to the content script, which relays it
 * through the extension to its host; the host answers with the service's status and body.
 * @param {{timeoutMs?: number}} options
 * @returns {Road}
 */
function extensionRoad(options) {
  const timeoutMs = options.timeoutMs ?? DEFAULT_TIMEOUT_MS;
  return {
    transport: "extension",
    exchange(ask, fields, signal) {
      signal?.throwIfAborted();
      const id = extension.nextId++;
      return new Promise((resolve, reject) => {
        const finish = (settle) => {
          clearTimeout(timer);
          signal?.removeEventListener("abort", giveUp);
          extension.waiting.delete(id);
          settle();
        };
        // Given up or late: the host is told, so a call still waiting for the card is dropped.
        const giveUp = () => finish(() => {
          toExtension({ id, cancel: true });
          reject(signal.reason);
        });
        const timer = setTimeout(() => finish(() => {
          toExtension({ id, cancel: true });
          reject(new QardexError("timeout", `no answer from the QARDEX host within ${timeoutMs} ms`));
        }), timeoutMs);
        signal?.addEventListener("abort", giveUp);
        extension.waiting.set(id, (message) => finish(() => (message.error !== undefined
          ? reject(hostFailure(message))
          : resolve({ status: message.status, answer: message.body ?? null }))));
        toExtension({ id, ask, ...fields });
      });
    },
    async *watch(session, signal) {
      const id = extension.nextId++;
      const queue = [];
      let wake = () => undefined;
      const stop = () => wake();
      extension.waiting.set(id, (message) => { queue.push(message); wake(); });
      signal.addEventListener("abort", stop);
      toExtension({ id, ask: "watch", session });
      try {
        for (;;) {
          while (queue.length === 0 && !signal.aborted) await new Promise((resolve) => (wake = resolve));
          if (signal.aborted) return;
          const message = queue.shift();
          if ("event" in message) yield message.event;
          else if (message.end === true) return;
          else if (message.error !== undefined) throw hostFailure(message);
          else throw refusal(message.status, message.body);  // refused instead of watched
        }
      } finally {
        extension.waiting.delete(id);
        signal.removeEventListener("abort", stop);
        toExtension({ id, cancel: true });
      }
    },
  };
}

/**
 * Opens a session with the card. By default through the extension when it runs on this page
 * and its host is installed, else through the local service; `transport` takes only the one
 * road. Rejects with a QardexError when the card cannot be reached from this page (see its
 * codes).
 * @param {{transport?: "extension" | "service", host?: string, port?: number,
 *   timeoutMs?: number}} [options]
 * @returns {Promise<Card>}
 */
export async function connect(options = {}) {
  const insecure = insecurePage();
  if (insecure) throw insecure;
  if (options.transport !== "service") {
    if (await extensionPresent()) {
      try {
        return await Card.open(extensionRoad(options));
      } catch (error) {
        if (options.transport === "extension" || !(error instanceof QardexError) ||
            error.code !== "host-not-installed") throw error;
      }
    } else if (options.transport === "extension") {
      throw new QardexError("extension-not-installed", "no QARDEX extension answers on this page");
    }
  }
  if (options.host !== undefined) return Card.open(serviceRoad(options));
  try {
    return await Card.open(serviceRoad(options));
  } catch (error) {
    if (!(error instanceof QardexError) || error.code !== "service-not-running") throw error;
    try {
      return await Card.open(serviceRoad({ ...options, host: EARLIER_HOST }));
    } catch (earlier) {
      // What the earlier name tells (a refused origin, say) says more than its silence.
      throw earlier instanceof QardexError && earlier.code !== "service-not-running" ? earlier : error;
    }
  }
}

/** The checks diagnose() reports for each road, in the order a help desk works through them. */
const CARD_CHECKS = ["caller-allowed", "reader", "hc-card", "server-reachable"];
const DIAGNOSIS_CHECKS = {
  service: ["local-network-access", "service-running", "origin-approved", ...CARD_CHECKS],
  extension: ["extension", "host", "origin-approved", ...CARD_CHECKS],
};
/** The first check each failure of the library rules out. */
const FAILED_CHECK = {
  "local-network-access-denied": "local-network-access",
  "local-network-access-blocked": "local-network-access",
  "frame-not-allowed": "local-network-access",
  "insecure-page": "local-network-access",
  "service-not-running": "service-running",
  "extension-not-installed": "extension",
  "host-not-installed": "host",
  "host-ended": "host",
  "origin-not-approved": "origin-approved",
  "caller-not-allowed": "caller-allowed",
};

/**
 * One road's diagnosis: {problem, service, checks} (see diagnose).
 * @param {Road | null} road null: the extension does not run on this page
 * @param {string[]} names
 */
async function diagnoseRoad(road, names) {
  let answer;
  try {
    if (road === null) throw new QardexError("extension-not-installed", "no QARDEX extension");
    answer = await request(road, "diagnostics");
  } catch (error) {
    if (!(error instanceof QardexError) || !(error.code in FAILED_CHECK)) throw error;
    const failed = names.indexOf(FAILED_CHECK[error.code]);
    const checks = names.slice(0, failed + 1).map((name, i) => ({ name, ok: i < failed }));
    return { problem: error.code, service: null, checks };
  }
  if (!answer || typeof answer.version !== "string" || typeof answer.readers !== "number" ||
      typeof answer.hcCard !== "boolean" || typeof answer.serverReachable !== "boolean") {
    throw new QardexError("protocol", "the diagnostics answer is incomplete", 200);
  }
  const service = { version: answer.version, readers: answer.readers, hcCard: answer.hcCard,
    serverReachable: answer.serverReachable };
  const ok = [true, true, true, true, service.readers > 0, service.hcCard, service.serverReachable];
  return { problem: null, service, checks: names.map((name, i) => ({ name, ok: ok[i] })) };
}

/**
 * The set-up as this page can see it, without anything about the person, on both roads:
 * `roads.extension` (whether the extension runs on the page, its host, then the card's checks)
 * and `roads.service` (whether the browser and the service let the page in, then the service's
 * own checks: version, readers, an HC card, the authentication server); a road `transport`
 * leaves out is null. Each is `{problem, service, checks}`: `checks` in order, each `{name, ok}`,
 * the checks after a failed one on the page's side left out; `problem` the error code that
 * stopped them, or null. The top level repeats the road connect() would take, named by
 * `transport`. Rejects only for failures that are no finding ("busy", "timeout", "protocol").
 * @param {{transport?: "extension" | "service", host?: string, port?: number,
 *   timeoutMs?: number}} [options]
 */
export async function diagnose(options = {}) {
  const roads = { extension: null, service: null };
  if (options.transport !== "service") {
    const road = (await extensionPresent()) ? extensionRoad(options) : null;
    roads.extension = await diagnoseRoad(road, DIAGNOSIS_CHECKS.extension);
  }
  if (options.transport !== "extension") {
    roads.service = await diagnoseRoad(serviceRoad(options), DIAGNOSIS_CHECKS.service);
  }
  const viaExtension = roads.service === null || (roads.extension !== null &&
    !["extension-not-installed", "host-not-installed"].includes(roads.extension.problem));
  const transport = viaExtension ? "extension" : "service";
  return { ...roads[transport], transport, roads };
}
