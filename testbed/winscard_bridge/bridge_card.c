/* WinSCard card calls: connecting, transactions, exchanging APDUs, disconnecting; and the protocol control
 * information structures every Windows client links against. */
#include "bridge_common.h"

/* Exported as data (the export list marks them `extern`); Windows' layout: two 32-bit DWORDs. */
const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardRawPci = {SCARD_PROTOCOL_RAW, sizeof(SCARD_IO_REQUEST)};

LONG WINAPI SCardConnectA(SCARDCONTEXT context, LPCSTR reader, DWORD share_mode,
                          DWORD preferred_protocols, LPSCARDHANDLE card, LPDWORD active_protocol) {
  if (!reader || !card) return SCARD_E_INVALID_PARAMETER;
  int64_t pcsc_card = 0;
  uint64_t pcsc_protocol = 0;
  int64_t result =
      pcsc_connect(bridge_to_pcsc_handle(context), reader, share_mode,
                   bridge_protocols_to_pcsc(preferred_protocols), &pcsc_card, &pcsc_protocol);
  if (result == SCARD_S_SUCCESS) {
    *card = bridge_from_pcsc_handle(pcsc_card);
    if (active_protocol) *active_protocol = bridge_protocol_from_pcsc(pcsc_protocol);
  }
  return bridge_result(result);
}

LONG WINAPI SCardDisconnect(SCARDHANDLE card, DWORD disposition) {
  return bridge_result(pcsc_disconnect(bridge_to_pcsc_handle(card), disposition));
}

LONG WINAPI SCardBeginTransaction(SCARDHANDLE card) {
  return bridge_result(pcsc_begin_transaction(bridge_to_pcsc_handle(card)));
}

LONG WINAPI SCardEndTransaction(SCARDHANDLE card, DWORD disposition) {
  return bridge_result(pcsc_end_transaction(bridge_to_pcsc_handle(card), disposition));
}

LONG WINAPI SCardTransmit(SCARDHANDLE card, LPCSCARD_IO_REQUEST send_pci, LPCBYTE send,
                          DWORD send_length, LPSCARD_IO_REQUEST receive_pci, LPBYTE receive,
                          LPDWORD receive_length) {
  if (!send_pci || !send || !receive || !receive_length) return SCARD_E_INVALID_PARAMETER;
  /* Transmit cannot allocate its response buffer. */
  if (*receive_length == SCARD_AUTOALLOCATE) return SCARD_E_INVALID_PARAMETER;
  if (send_length == 0 || send_length > PCSC_MAX_BUFFER_EXTENDED) return SCARD_E_INVALID_PARAMETER;

  uint64_t pcsc_receive_protocol =
      receive_pci ? bridge_protocols_to_pcsc(receive_pci->dwProtocol) : 0;
  /* No response is longer than the extended maximum; a larger claimed buffer is capped. */
  uint64_t pcsc_receive_length =
      *receive_length < PCSC_MAX_BUFFER_EXTENDED ? *receive_length : PCSC_MAX_BUFFER_EXTENDED;

  int64_t result = pcsc_transmit(
      bridge_to_pcsc_handle(card), bridge_protocols_to_pcsc(send_pci->dwProtocol), send,
      send_length, receive_pci ? &pcsc_receive_protocol : NULL, receive, &pcsc_receive_length);
  if (result == SCARD_S_SUCCESS || result == SCARD_E_INSUFFICIENT_BUFFER)
    *receive_length = bridge_length_to_win(pcsc_receive_length);
  if (result == SCARD_S_SUCCESS && receive_pci)
    receive_pci->dwProtocol = bridge_protocol_from_pcsc(pcsc_receive_protocol);
  return bridge_result(result);
}

/* pcsc-lite reports the state as bits, Windows as one number: the highest bit set names it
 * (absent 1 ... specific 6; pcsc-lite's bits 0x02 ... 0x40). */
static DWORD bridge_state_from_pcsc(uint64_t state) {
  DWORD result = 0;
  for (DWORD level = 1; level <= 6; ++level)
    if (state & ((uint64_t)1 << level)) result = level;
  return result;
}

/* The state query alone: the control asks for no reader name or ATR, so the bridge refuses them
 * rather than convert lengths it is never given. */
LONG WINAPI SCardStatusA(SCARDHANDLE card, LPSTR reader, LPDWORD reader_length, LPDWORD state,
                         LPDWORD protocol, LPBYTE atr, LPDWORD atr_length) {
  if (reader || reader_length || atr || atr_length) return SCARD_E_INVALID_PARAMETER;
  uint64_t pcsc_state = 0;
  uint64_t pcsc_protocol = 0;
  int64_t result = pcsc_status(bridge_to_pcsc_handle(card), &pcsc_state, &pcsc_protocol);
  if (result == SCARD_S_SUCCESS) {
    if (state) *state = bridge_state_from_pcsc(pcsc_state);
    if (protocol) *protocol = bridge_protocol_from_pcsc(pcsc_protocol);
  }
  return bridge_result(result);
}
