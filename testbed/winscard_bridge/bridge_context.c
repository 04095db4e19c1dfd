/* WinSCard resource-manager calls: contexts, the reader list and memory the bridge allocates. */
#include <string.h>

#include "bridge_common.h"

LONG WINAPI SCardEstablishContext(DWORD scope, LPCVOID reserved1, LPCVOID reserved2,
                                  LPSCARDCONTEXT context) {
  (void)reserved1;
  (void)reserved2;
  if (!context) return SCARD_E_INVALID_PARAMETER;
  int64_t pcsc_context = 0;
  int64_t result = pcsc_establish_context(scope, &pcsc_context);
  if (result == SCARD_S_SUCCESS) *context = bridge_from_pcsc_handle(pcsc_context);
  return bridge_result(result);
}

LONG WINAPI SCardReleaseContext(SCARDCONTEXT context) {
  return bridge_result(pcsc_release_context(bridge_to_pcsc_handle(context)));
}

LONG WINAPI SCardIsValidContext(SCARDCONTEXT context) {
  return bridge_result(pcsc_is_valid_context(bridge_to_pcsc_handle(context)));
}

/* SCARD_AUTOALLOCATE: the list goes into process-heap memory that SCardFreeMemory releases.
 * A reader plugged in between sizing and filling makes the fill fail with
 * SCARD_E_INSUFFICIENT_BUFFER; size again a few times before giving up. */
static LONG list_readers_allocated(SCARDCONTEXT context, LPCSTR groups, LPSTR* readers,
                                   LPDWORD length) {
  int64_t result = SCARD_E_INSUFFICIENT_BUFFER;
  for (int attempt = 0; attempt < 4 && result == SCARD_E_INSUFFICIENT_BUFFER; ++attempt) {
    uint64_t needed = 0;
    result = pcsc_list_readers(bridge_to_pcsc_handle(context), groups, NULL, &needed);
    if (result != SCARD_S_SUCCESS) break;
    if (needed == 0 || needed > 0xFFFFFFFFu) return SCARD_F_INTERNAL_ERROR;
    char* buffer = HeapAlloc(GetProcessHeap(), 0, needed);
    if (!buffer) return SCARD_E_NO_MEMORY;
    uint64_t filled = needed;
    result = pcsc_list_readers(bridge_to_pcsc_handle(context), groups, buffer, &filled);
    if (result == SCARD_S_SUCCESS) {
      *readers = buffer;
      *length = bridge_length_to_win(filled);
      return SCARD_S_SUCCESS;
    }
    HeapFree(GetProcessHeap(), 0, buffer);
  }
  return bridge_result(result);
}

LONG WINAPI SCardListReadersA(SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD length) {
  if (!length) return SCARD_E_INVALID_PARAMETER;
  if (readers && *length == SCARD_AUTOALLOCATE) {
    LPSTR allocated = NULL;
    LONG result = list_readers_allocated(context, groups, &allocated, length);
    /* With SCARD_AUTOALLOCATE the buffer argument really is an LPSTR*. */
    if (result == SCARD_S_SUCCESS) memcpy(readers, &allocated, sizeof(allocated));
    return result;
  }
  /* Zero-extended: a Windows length can never turn into pcsc-lite's own 64-bit
   * SCARD_AUTOALLOCATE, and without a buffer pcsc-lite only reports the size. */
  uint64_t pcsc_length = readers ? *length : 0;
  int64_t result = pcsc_list_readers(bridge_to_pcsc_handle(context), groups, readers, &pcsc_length);
  if (result == SCARD_S_SUCCESS || result == SCARD_E_INSUFFICIENT_BUFFER)
    *length = bridge_length_to_win(pcsc_length);
  return bridge_result(result);
}

LONG WINAPI SCardFreeMemory(SCARDCONTEXT context, LPCVOID memory) {
  (void)context;
  if (memory) HeapFree(GetProcessHeap(), 0, (LPVOID)memory);
  return SCARD_S_SUCCESS;
}
