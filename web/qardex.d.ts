// Type declarations of the QARDEX page library (qardex.js). See docs/page-developers.md.

/** What went wrong; see the guide for what a page can and cannot tell apart. */
export type QardexErrorCode =
  | "service-not-running"
  | "origin-not-approved"
  | "local-network-access-denied"
  | "session-expired"
  | "bad-request"
  | "busy"
  | "interrupted"
  | "caller-not-allowed"
  | "timeout"
  | "protocol";

/** Every rejection of the library. */
export class QardexError extends Error {
  readonly name: "QardexError";
  readonly code: QardexErrorCode;
  /** The HTTP status when the service answered. */
  readonly status?: number;
  constructor(code: QardexErrorCode, message: string, status?: number);
}

export interface ConnectOptions {
  /** The service's host name (default: the build's local service host, local.qardex.example). */
  host?: string;
  /** The service's port (default: the build's local service port, 14443). */
  port?: number;
  /** Limit of every request in milliseconds (default 400000, above H_Sign's worst case). */
  timeoutMs?: number;
}

/**
 * A session with the service: the card control's twelve methods. Results and failure codes are
 * the control's own; card, reader and network trouble is a result (a code, "N/A" or -1), not a
 * rejection.
 */
export interface QardexCard {
  /** "0001". */
  GetVersion(): Promise<string>;
  /** 16 decimal digits. */
  GetRandom(): Promise<string>;
  /** "card,id,name,birth,sex,flag", or a failure code. */
  GetBasic(): Promise<string>;
  /** 256 characters from the authentication server, or a failure code. */
  H_Sign(sRandom: string): Promise<string>;
  /** Reader names joined by ",", or "N/A". */
  GetReaders(): Promise<string>;
  /** Index of the first reader with an HC card, or -1. */
  GetHCConnectNo(): Promise<number>;
  /** 0 when the authentication server can be reached, else 4061. */
  ServiceStatus(): Promise<number>;
  /** The holder's name as UTF-8 bytes widened through the ANSI code page (see the README). */
  GetName(): Promise<string>;
  /** The message text of a code. */
  ZEL_FormatMessage(sCode: string): Promise<string>;
  /** The GetBasic line enciphered under a key of the UTC date (hex). */
  SecureGetBasicWithParam(sRand: string): Promise<string>;
  /** The last failure code of this session. */
  GetLastError(): Promise<number>;
  /** sIN (6-12 characters) enciphered under a card-bound key (hex), or "8009". */
  EnCrypt(sIN: string): Promise<string>;
  /** lastError of the last answer. */
  readonly lastError: number;
  /** Ends the session; a later call opens a new one. */
  close(): Promise<void>;
}

/** Opens a session with the local service. */
export function connect(options?: ConnectOptions): Promise<QardexCard>;
