// QARDEX page library: the card control's twelve methods for pages in modern browsers, through
// the local service mQARDEXService.exe (JSON over HTTPS on this computer). An ES module without
// dependencies:
//
//   import { connect, QardexError } from "./qardex.js";
//   const card = await connect();
//   const basic = await card.GetBasic();   // the control's result; card.lastError its code
//
// The build writes this file to out/win64/web/qardex.js with the "@...@" values below filled in
// from its constants and the service's method table; ship that copy, not this template.
// The guide for page developers is docs/page-developers.md.

const DEFAULT_HOST = "@QARDEX_LOCAL_HOST@";
const DEFAULT_PORT = Number("@QARDEX_LOCAL_PORT@");
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

/**
 * Every failure of the library. `code` says what went wrong:
 * - "service-not-running": nothing answered: the service is stopped or not installed, or the
 *   browser does not trust its certificate.
 * - "origin-not-approved": the service runs but refuses this page's origin (scheme and host).
 * - "local-network-access-denied": the browser's Local Network Access permission (or the
 *   administrator's policy) keeps this page from reaching services on this computer.
 * - "session-expired": the service forgot the session, and a new one was forgotten too.
 * - "bad-request": the service refused the call's arguments (HTTP 400).
 * - "busy": the service has too many sessions open for this site (HTTP 429), or the card stayed
 *   in use by another call for the service's whole card wait (HTTP 503): try again later.
 * - "interrupted": the call ended without a result because the service's worker for this user
 *   stopped during it (HTTP 502). The call was not repeated; the next call starts a new worker.
 * - "caller-not-allowed": the service works only for programs of the user signed in to this
 *   desktop session (HTTP 403 to a program of a service or another user).
 * - "timeout": no answer within the `timeoutMs` given to `connect`.
 * - "protocol": any other unexpected answer.
 * `status` is the HTTP status when there was an answer.
 */
export class QardexError extends Error {
  /**
   * @param {string} code
   * @param {string} message
   * @param {number} [status]
   */
  constructor(code, message, status) {
    super(message);
    this.name = "QardexError";
    this.code = code;
    this.status = status;
  }
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

/** @returns {Promise<boolean>} whether the browser reports Local Network Access as denied. */
async function localNetworkAccessDenied() {
  if (!navigator.permissions) return false;
  for (const name of LNA_PERMISSIONS) {
    try {
      const status = await navigator.permissions.query({ name });
      if (status.state === "denied") return true;
    } catch {
      // This browser does not know the name.
    }
  }
  return false;
}

/**
 * Why a request failed without an answer. For a page the browser shows an absent service and a
 * refused origin alike (a refusal carries no CORS headers): a "no-cors" request, whose answer
 * stays opaque, tells whether anything answered at all.
 * @param {string} base
 * @param {number} timeoutMs
 * @returns {Promise<QardexError>}
 */
async function whyUnanswered(base, timeoutMs) {
  const refused = new QardexError("local-network-access-denied",
    "the browser does not let this page reach services on this computer (Local Network Access)");
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
 * One request to the service: the parsed JSON body of a 2xx answer (null when empty), or a
 * QardexError. A 404 for an unknown session rejects with code "session-expired".
 * @param {{base: string, timeoutMs: number}} link
 * @param {string} method
 * @param {string} path
 * @param {unknown} [body]
 */
async function request(link, method, path, body, signal) {
  const init = { method, mode: "cors", credentials: "omit" };
  // A JSON text sent as plain text keeps the request a simple one: no preflight request before it.
  if (body !== undefined) init.body = JSON.stringify(body);
  let response;
  try {
    response = await timedFetch(link.base + path, init, link.timeoutMs, signal);
  } catch (error) {
    if (error instanceof QardexError || signal?.aborted) throw error;
    throw await whyUnanswered(link.base, link.timeoutMs);
  }
  let answer = null;
  try {
    answer = response.text ? JSON.parse(response.text) : null;
  } catch {
    throw new QardexError("protocol", `the service's answer is not JSON (HTTP ${response.status})`,
      response.status);
  }
  if (response.ok) return answer;
  const reason = answer && typeof answer.error === "string" ? answer.error : `HTTP ${response.status}`;
  const code = response.status === 404 && reason === "unknown session" ? "session-expired"
    : response.status === 400 ? "bad-request"
    : response.status === 429 || response.status === 503 ? "busy"
    : response.status === 502 ? "interrupted"
    : response.status === 403 ? "caller-not-allowed"
    : "protocol";
  throw new QardexError(code, `the QARDEX service refused the request: ${reason}`, response.status);
}

/**
 * A card session: the control's twelve methods (GetVersion, GetRandom, GetBasic, H_Sign,
 * GetReaders, GetHCConnectNo, ServiceStatus, GetName, ZEL_FormatMessage,
 * SecureGetBasicWithParam, GetLastError, EnCrypt), each returning a promise of the control's
 * result (string or number). The session's id stays inside this object; it is never logged.
 */
class Card {
  #link;
  /** @type {string | null} */
  #session = null;
  /** @type {Promise<string> | null} */
  #opening = null;
  #lastError = 0;

  /** @param {{base: string, timeoutMs: number}} link */
  constructor(link) {
    this.#link = link;
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
      this.#opening = request(this.#link, "POST", "/v1/session").then(
        (answer) => {
          this.#opening = null;
          if (!answer || typeof answer.session !== "string") {
            throw new QardexError("protocol", "the service's session answer lacks its id", 201);
          }
          this.#session = answer.session;
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
   * @param {{base: string, timeoutMs: number}} link
   */
  static async open(link) {
    const card = new Card(link);
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
        const answer = await request(this.#link, "POST", `/v1/session/${session}/${name}`, { args },
          signal);
        if (typeof answer !== "object" || answer === null || !("result" in answer) ||
            typeof answer.lastError !== "number") {
          throw new QardexError("protocol", `the service's answer to ${name} lacks its result`, 200);
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
      try {
        const session = await this.#sessionId(expired);
        const response = await fetch(`${this.#link.base}/v1/session/${session}/events`,
          { mode: "cors", credentials: "omit", cache: "no-store", signal });
        expired = response.status === 404 ? session : null;
        // A service that forgot the session (restarted) gets a new one at once, but only once.
        if (expired !== null && !retried) continue;
        if (response.ok && response.body) {
          for await (const event of serverEvents(response.body)) {
            failures = 0;
            try {
              listener(event);
            } catch (error) {
              setTimeout(() => { throw error; });  // the page's own fault: reported, watch goes on
            }
          }
        } else {
          await response.body?.cancel();
        }
      } catch {
        // The service is not there (yet): try again after a pause.
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
    if (session === null) return;
    try {
      await request(this.#link, "DELETE", `/v1/session/${session}`);
    } catch (error) {
      if (!(error instanceof QardexError) || error.code !== "session-expired") throw error;
    }
  }
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
 * Opens a session with the local service. Rejects with a QardexError when the service cannot
 * be used from this page (see its codes).
 * @param {{host?: string, port?: number, timeoutMs?: number}} [options]
 * @returns {Promise<Card>}
 */
export async function connect(options = {}) {
  return Card.open(linkOf(options));
}

/**
 * @param {{host?: string, port?: number, timeoutMs?: number}} options
 * @returns {{base: string, timeoutMs: number}}
 */
function linkOf(options) {
  const host = options.host ?? DEFAULT_HOST;
  const port = options.port ?? DEFAULT_PORT;
  return { base: `https://${host}:${port}`, timeoutMs: options.timeoutMs ?? DEFAULT_TIMEOUT_MS };
}

/** The checks diagnose() reports, in the order a help desk works through them. */
const DIAGNOSIS_CHECKS = ["local-network-access", "service-running", "origin-approved",
  "caller-allowed", "reader", "hc-card", "server-reachable"];
/** The first check each failure of the library rules out. */
const FAILED_CHECK = {
  "local-network-access-denied": "local-network-access",
  "service-not-running": "service-running",
  "origin-not-approved": "origin-approved",
  "caller-not-allowed": "caller-allowed",
};

/**
 * The set-up as this page can see it, without anything about the person: whether the browser and
 * the service let the page in, and the service's own checks (version, readers, an HC card, the
 * authentication server). Resolves with `checks` in order, each `{name, ok}`; the checks after a
 * failed browser-side one are left out. `problem` is the error code that stopped the checks, or
 * null. Rejects only for failures that are no finding ("busy", "timeout", "protocol").
 * @param {{host?: string, port?: number, timeoutMs?: number}} [options]
 */
export async function diagnose(options = {}) {
  let answer;
  try {
    answer = await request(linkOf(options), "GET", "/v1/diagnostics");
  } catch (error) {
    if (!(error instanceof QardexError) || !(error.code in FAILED_CHECK)) throw error;
    const failed = DIAGNOSIS_CHECKS.indexOf(FAILED_CHECK[error.code]);
    const checks = DIAGNOSIS_CHECKS.slice(0, failed + 1).map((name, i) => ({ name, ok: i < failed }));
    return { problem: error.code, service: null, checks };
  }
  if (!answer || typeof answer.version !== "string" || typeof answer.readers !== "number" ||
      typeof answer.hcCard !== "boolean" || typeof answer.serverReachable !== "boolean") {
    throw new QardexError("protocol", "the service's diagnostics answer is incomplete", 200);
  }
  const service = { version: answer.version, readers: answer.readers, hcCard: answer.hcCard,
    serverReachable: answer.serverReachable };
  const ok = [true, true, true, true, service.readers > 0, service.hcCard, service.serverReachable];
  return { problem: null, service, checks: DIAGNOSIS_CHECKS.map((name, i) => ({ name, ok: ok[i] })) };
}
