/* Conversions between the Windows WinSCard ABI (32-bit DWORD/LONG, pointer-sized handles,
 * 8-byte SCARD_IO_REQUEST) and the pcsc-lite ABI of pcsclite_client.h. */
#ifndef QARDEX_WINSCARD_BRIDGE_BRIDGE_COMMON_H
#define QARDEX_WINSCARD_BRIDGE_BRIDGE_COMMON_H

#include <stdint.h>
#include <windows.h>
#include <winscard.h>

#include "pcsclite_client.h"

/* pcsc-lite reports results as 64-bit LONGs holding 32-bit codes (0x80100000 and up are
 * positive there); Windows callers get the same 32 bits. */
static inline LONG bridge_result(int64_t pcsc_result) { return (LONG)(uint32_t)pcsc_result; }

/* Windows handles are ULONG_PTR; pcsc-lite's are LONG (also 64-bit here). */
static inline int64_t bridge_to_pcsc_handle(ULONG_PTR handle) { return (int64_t)handle; }
static inline ULONG_PTR bridge_from_pcsc_handle(int64_t handle) { return (ULONG_PTR)handle; }

/* Lengths pcsc-lite hands back fit in 32 bits in practice; never wrap if they do not. */
static inline DWORD bridge_length_to_win(uint64_t length) {
  return length > 0xFFFFFFFFu ? 0xFFFFFFFFu : (DWORD)length;
}

/* T=0 and T=1 share their bits; RAW is 0x10000 on Windows and 4 in pcsc-lite. Windows'
 * SCARD_PROTOCOL_DEFAULT asks for whatever the reader offers. Other bits pass unchanged so
 * that pcsc-lite rejects them itself. */
static inline uint64_t bridge_protocols_to_pcsc(DWORD protocols) {
  uint64_t result = protocols & ~(DWORD)(SCARD_PROTOCOL_RAW | SCARD_PROTOCOL_DEFAULT);
  if (protocols & SCARD_PROTOCOL_RAW) result |= PCSC_PROTOCOL_RAW;
  if (protocols & SCARD_PROTOCOL_DEFAULT) result |= PCSC_PROTOCOL_T0 | PCSC_PROTOCOL_T1;
  return result;
}

static inline DWORD bridge_protocol_from_pcsc(uint64_t protocol) {
  DWORD result = (DWORD)(protocol & ~(uint64_t)PCSC_PROTOCOL_RAW);
  if (protocol & PCSC_PROTOCOL_RAW) result |= SCARD_PROTOCOL_RAW;
  return result;
}

#endif
