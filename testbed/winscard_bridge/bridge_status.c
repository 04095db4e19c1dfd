/* WinSCard's status-change wait: reader and card states, and the reader-list pseudo-reader. */
#include "bridge_common.h"

/* The Windows entries (32-bit states, a 36-byte ATR) are copied into fixed-width ones and the
 * event states copied back; the ATR is not reported. */
LONG WINAPI SCardGetStatusChangeA(SCARDCONTEXT context, DWORD timeout, LPSCARD_READERSTATEA states,
                                  DWORD count) {
  if (count > PCSC_MAX_WAIT_READERS) return SCARD_E_INVALID_VALUE;
  if (count > 0 && !states) return SCARD_E_INVALID_PARAMETER;
  struct pcsc_reader_state pcsc[PCSC_MAX_WAIT_READERS];
  for (DWORD i = 0; i < count; ++i) {
    pcsc[i].reader = states[i].szReader;
    pcsc[i].current_state = states[i].dwCurrentState;
    pcsc[i].event_state = 0;
  }
  int64_t result = pcsc_get_status_change(bridge_to_pcsc_handle(context), timeout, pcsc, count);
  for (DWORD i = 0; i < count; ++i) {
    states[i].dwEventState = (DWORD)pcsc[i].event_state;
    states[i].cbAtr = 0;
  }
  return bridge_result(result);
}
