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
 * an answer that breaks off with QardexError "protocol".
 * @param {string} url
 * @param {RequestInit} init
 * @param {number} timeoutMs
 * @returns {Promise<{status: number, ok: boolean, text: string}>}
 */
async function timedFetch(url, init, timeoutMs) {
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), timeoutMs);
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
    if (controller.signal.aborted) {
      throw new QardexError("timeout", `no answer from the QARDEX service within ${timeoutMs} ms`);
    }
    throw error;
  } finally {
    clearTimeout(timer);
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
async function diagnose(base, timeoutMs) {
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
async function request(link, method, path, body) {
  const init = { method, mode: "cors", credentials: "omit" };
  if (body !== undefined) {
    init.headers = { "Content-Type": "application/json" };
    init.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await timedFetch(link.base + path, init, link.timeoutMs);
  } catch (error) {
    if (error instanceof QardexError) throw error;
    throw await diagnose(link.base, link.timeoutMs);
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
        value: (...args) => this.#call(name, args),
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
  async #call(name, args) {
    let expired = null;
    for (let attempt = 0; ; attempt++) {
      const session = await this.#sessionId(expired);
      try {
        const answer = await request(this.#link, "POST", `/v1/session/${session}/${name}`, { args });
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
 * Opens a session with the local service. Rejects with a QardexError when the service cannot
 * be used from this page (see its codes).
 * @param {{host?: string, port?: number, timeoutMs?: number}} [options]
 * @returns {Promise<Card>}
 */
export async function connect(options = {}) {
  const host = options.host ?? DEFAULT_HOST;
  const port = options.port ?? DEFAULT_PORT;
  const timeoutMs = options.timeoutMs ?? DEFAULT_TIMEOUT_MS;
  return Card.open({ base: `https://${host}:${port}`, timeoutMs });
}
