// Type declarations of the QARDEX page library (qardex.js). See docs/page-developers.md.

/** What went wrong; see the guide for what a page can and cannot tell apart. */
export type QardexErrorCode =
  | "service-not-running"
  | "origin-not-approved"
  | "local-network-access-denied"
  | "local-network-access-blocked"
  | "frame-not-allowed"
  | "session-expired"
  | "bad-request"
  | "busy"
  | "interrupted"
  | "caller-not-allowed"
  | "timeout"
  | "extension-not-installed"
  | "host-not-installed"
  | "host-ended"
  /** The page is not a secure context: browsers let it reach nothing on this computer. */
  | "insecure-page"
  /** The service (or the extension's host) and this library do not work together: see `outdated`. */
  | "requires-update"
  | "protocol";

/** The side to update after "requires-update". */
export type OutdatedSide = "library" | "service" | "host";

/**
 * This library's version: the product's, with the built default host and port as build metadata
 * ("1.0.0+local.qardex.localhost.14443").
 */
export const version: string;

/** Every rejection of the library. */
export class QardexError extends Error {
  readonly name: "QardexError";
  readonly code: QardexErrorCode;
  /** The HTTP status when the service (or the extension's host) answered. */
  readonly status?: number;
  /** "requires-update": which side is too old (the host on the extension's road). */
  readonly outdated?: OutdatedSide;
  constructor(code: QardexErrorCode, message: string, status?: number, outdated?: OutdatedSide);
}

export interface ConnectOptions {
  /** Only this road (default: the extension when it runs on the page and has its host, else the service). */
  transport?: Transport;
  /**
   * The service's host name (default: the build's name under .localhost, local.qardex.localhost,
   * which browsers never send to a proxy; the service answers local.qardex.example too).
   */
  host?: string;
  /** The service's port (default: the build's local service port, 14443). */
  port?: number;
  /** Limit of every request in milliseconds (default 400000, above H_Sign's worst case). */
  timeoutMs?: number;
}

/** The road to the card: the browser extension and its host, or the local service over HTTPS. */
export type Transport = "extension" | "service";

/** Options every method takes after its arguments. */
export interface CallOptions {
  /** Gives up the call: the promise rejects at once with the signal's reason. */
  signal?: AbortSignal;
}

/** A reader as the first event of a watch describes it. */
export interface ReaderState {
  /** Position in the reader list, as GetHCConnectNo numbers readers. */
  index: number;
  reader: string;
  card: boolean;
  /** The card answers the HC application. */
  hc: boolean;
}

/** What a watch reports: first the state, then each change. No card data. */
export type ReaderEvent =
  | { type: "state"; readers: ReaderState[] }
  | { type: "reader-added" | "reader-removed" | "card-removed"; index: number; reader: string }
  | { type: "card-inserted"; index: number; reader: string; hc: boolean };

/**
 * A session with the service: the card control's twelve methods. Results and failure codes are
 * the control's own; card, reader and network trouble is a result (a code, "N/A" or -1), not a
 * rejection.
 */
export interface QardexCard {
  /** "0001". */
  GetVersion(options?: CallOptions): Promise<string>;
  /** 16 decimal digits. */
  GetRandom(options?: CallOptions): Promise<string>;
  /** "card,id,name,birth,sex,flag", or a failure code. */
  GetBasic(options?: CallOptions): Promise<string>;
  /** 256 characters from the authentication server, or a failure code. */
  H_Sign(sRandom: string, options?: CallOptions): Promise<string>;
  /** Reader names joined by ",", or "N/A". */
  GetReaders(options?: CallOptions): Promise<string>;
  /** Index of the first reader with an HC card, or -1. */
  GetHCConnectNo(options?: CallOptions): Promise<number>;
  /** 0 when the authentication server can be reached, else 4061. */
  ServiceStatus(options?: CallOptions): Promise<number>;
  /** The holder's name as UTF-8 bytes widened through the ANSI code page (docs/control.md). */
  GetName(options?: CallOptions): Promise<string>;
  /** The message text of a code. */
  ZEL_FormatMessage(sCode: string, options?: CallOptions): Promise<string>;
  /** The GetBasic line enciphered under a key of the UTC date (hex). */
  SecureGetBasicWithParam(sRand: string, options?: CallOptions): Promise<string>;
  /** The last failure code of this session. */
  GetLastError(options?: CallOptions): Promise<number>;
  /** sIN (6-12 characters) enciphered under a card-bound key (hex), or "8009". */
  EnCrypt(sIN: string, options?: CallOptions): Promise<string>;
  /** The road this session's requests take. */
  readonly transport: Transport;
  /** lastError of the last answer. */
  readonly lastError: number;
  /**
   * Follows the readers until the returned function is called; connects again by itself after
   * the service was lost, starting again with the state.
   */
  watch(listener: (event: ReaderEvent) => void): () => void;
  /**
   * Ends the session; a later call opens a new one. The library does it by itself when the page
   * goes away (`pagehide`), with a request that outlives the page.
   */
  close(options?: CallOptions): Promise<void>;
}

/**
 * Opens a session through the extension or the local service. Rejects at once with
 * "insecure-page" on a page that is not a secure context (`window.isSecureContext` false).
 */
export function connect(options?: ConnectOptions): Promise<QardexCard>;

/** One line of diagnose(): a check and whether it passed. */
export interface DiagnosisCheck {
  name:
    | "local-network-access"
    | "service-running"
    | "extension"
    | "host"
    | "origin-approved"
    | "caller-allowed"
    | "reader"
    | "hc-card"
    | "server-reachable";
  ok: boolean;
}

/** What diagnose() found on one road; nothing in it is about the person. */
export interface RoadDiagnosis {
  /** The error that stopped the checks on the browser's side, or null. */
  problem:
    | null
    | "local-network-access-denied"
    | "local-network-access-blocked"
    | "frame-not-allowed"
    | "insecure-page"
    | "service-not-running"
    | "extension-not-installed"
    | "host-not-installed"
    | "host-ended"
    | "origin-not-approved"
    | "caller-not-allowed";
  /** The service's (or the host's) own answer, when it gave one. */
  service: { version: string; readers: number; hcCard: boolean; serverReachable: boolean } | null;
  /** In order; the checks after a failed browser-side one are left out. */
  checks: DiagnosisCheck[];
}

/** Both roads (one left null when `transport` names the other), and on top the road connect() takes. */
export interface Diagnosis extends RoadDiagnosis {
  transport: Transport;
  roads: { extension: RoadDiagnosis | null; service: RoadDiagnosis | null };
}

/** Checks the set-up as this page can see it; rejects with "busy", "timeout" or "protocol". */
export function diagnose(options?: ConnectOptions): Promise<Diagnosis>;
