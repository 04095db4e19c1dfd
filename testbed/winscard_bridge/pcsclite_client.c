/* Loads libpcsclite.so.1 on first use and forwards calls to it. Compiled as plain Linux C
 * (not through winegcc) so that pcsc-lite's own headers define the prototypes. */
#include "pcsclite_client.h"

#include <PCSC/winscard.h>
#include <dlfcn.h>
#include <pthread.h>
#include <string.h>

/* The fixed-width types in pcsclite_client.h must be exactly pcsc-lite's scalar types, because
 * pointers to them are handed straight to the library. Its SCARD_IO_REQUEST is built here. */
_Static_assert(sizeof(DWORD) == sizeof(uint64_t), "pcsc-lite DWORD is 64-bit on LP64");
_Static_assert(sizeof(LONG) == sizeof(int64_t), "pcsc-lite LONG is 64-bit on LP64");
_Static_assert(sizeof(SCARDCONTEXT) == sizeof(int64_t), "SCARDCONTEXT width");
_Static_assert(sizeof(SCARDHANDLE) == sizeof(int64_t), "SCARDHANDLE width");
_Static_assert(SCARD_PROTOCOL_T0 == PCSC_PROTOCOL_T0 && SCARD_PROTOCOL_T1 == PCSC_PROTOCOL_T1 &&
                   SCARD_PROTOCOL_RAW == PCSC_PROTOCOL_RAW,
               "protocol bits");
_Static_assert(MAX_BUFFER_SIZE_EXTENDED == PCSC_MAX_BUFFER_EXTENDED, "extended buffer size");

static struct {
  __typeof__(SCardEstablishContext)* establish_context;
  __typeof__(SCardReleaseContext)* release_context;
  __typeof__(SCardIsValidContext)* is_valid_context;
  __typeof__(SCardListReaders)* list_readers;
  __typeof__(SCardConnect)* connect;
  __typeof__(SCardDisconnect)* disconnect;
  __typeof__(SCardBeginTransaction)* begin_transaction;
  __typeof__(SCardEndTransaction)* end_transaction;
  __typeof__(SCardTransmit)* transmit;
  __typeof__(SCardGetStatusChange)* get_status_change;
  __typeof__(SCardStatus)* status;
} api;
static int api_loaded;
static pthread_once_t api_once = PTHREAD_ONCE_INIT;

static void load_api(void) {
  /* Kept loaded for the life of the process; pcsc-lite keeps threads and sockets of its own. */
  void* library = dlopen("libpcsclite.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!library) return;
  api.establish_context = dlsym(library, "SCardEstablishContext");
  api.release_context = dlsym(library, "SCardReleaseContext");
  api.is_valid_context = dlsym(library, "SCardIsValidContext");
  api.list_readers = dlsym(library, "SCardListReaders");
  api.connect = dlsym(library, "SCardConnect");
  api.disconnect = dlsym(library, "SCardDisconnect");
  api.begin_transaction = dlsym(library, "SCardBeginTransaction");
  api.end_transaction = dlsym(library, "SCardEndTransaction");
  api.transmit = dlsym(library, "SCardTransmit");
  api.get_status_change = dlsym(library, "SCardGetStatusChange");
  api.status = dlsym(library, "SCardStatus");
  api_loaded = api.establish_context && api.release_context && api.is_valid_context &&
               api.list_readers && api.connect && api.disconnect && api.begin_transaction &&
               api.end_transaction && api.transmit && api.get_status_change && api.status;
}

static int api_ready(void) {
  pthread_once(&api_once, load_api);
  return api_loaded;
}

int64_t pcsc_establish_context(uint64_t scope, int64_t* context) {
  if (!api_ready()) return SCARD_E_NO_SERVICE;
  return api.establish_context(scope, NULL, NULL, context);
}

int64_t pcsc_release_context(int64_t context) {
  if (!api_ready()) return SCARD_E_NO_SERVICE;
  return api.release_context(context);
}

int64_t pcsc_is_valid_context(int64_t context) {
  if (!api_ready()) return SCARD_E_NO_SERVICE;
  return api.is_valid_context(context);
}

int64_t pcsc_list_readers(int64_t context, const char* groups, char* readers, uint64_t* length) {
  if (!api_ready()) return SCARD_E_NO_SERVICE;
  return api.list_readers(context, groups, readers, length);
}

int64_t pcsc_connect(int64_t context, const char* reader, uint64_t share_mode,
                     uint64_t preferred_protocols, int64_t* card, uint64_t* active_protocol) {
  if (!api_ready()) return SCARD_E_NO_SERVICE;
  return api.connect(context, reader, share_mode, preferred_protocols, card, active_protocol);
}

int64_t pcsc_disconnect(int64_t card, uint64_t disposition) {
  if (!api_ready()) return SCARD_E_NO_SERVICE;
  return api.disconnect(card, disposition);
}

int64_t pcsc_begin_transaction(int64_t card) {
  if (!api_ready()) return SCARD_E_NO_SERVICE;
  return api.begin_transaction(card);
}

int64_t pcsc_end_transaction(int64_t card, uint64_t disposition) {
  if (!api_ready()) return SCARD_E_NO_SERVICE;
  return api.end_transaction(card, disposition);
}

int64_t pcsc_transmit(int64_t card, uint64_t send_protocol, const uint8_t* send,
                      uint64_t send_length, uint64_t* receive_protocol, uint8_t* receive,
                      uint64_t* receive_length) {
  if (!api_ready()) return SCARD_E_NO_SERVICE;
  SCARD_IO_REQUEST send_request = {send_protocol, sizeof(SCARD_IO_REQUEST)};
  SCARD_IO_REQUEST receive_request = {receive_protocol ? *receive_protocol : 0,
                                      sizeof(SCARD_IO_REQUEST)};
  LONG result = api.transmit(card, &send_request, send, send_length,
                             receive_protocol ? &receive_request : NULL, receive, receive_length);
  if (receive_protocol) *receive_protocol = receive_request.dwProtocol;
  return result;
}

int64_t pcsc_get_status_change(int64_t context, uint64_t timeout, struct pcsc_reader_state* states,
                               uint64_t count) {
  if (!api_ready()) return SCARD_E_NO_SERVICE;
  if (count > PCSC_MAX_WAIT_READERS || (count > 0 && !states)) return SCARD_E_INVALID_VALUE;
  SCARD_READERSTATE native[PCSC_MAX_WAIT_READERS];
  memset(native, 0, sizeof native);
  for (uint64_t i = 0; i < count; ++i) {
    native[i].szReader = states[i].reader;
    native[i].dwCurrentState = states[i].current_state;
  }
  LONG result = api.get_status_change(context, timeout, native, count);
  for (uint64_t i = 0; i < count; ++i) states[i].event_state = native[i].dwEventState;
  return result;
}

int64_t pcsc_status(int64_t card, uint64_t* state, uint64_t* protocol) {
  if (!api_ready()) return SCARD_E_NO_SERVICE;
  return api.status(card, NULL, NULL, state, protocol, NULL, NULL);
}
