/* The bridge's view of the Linux PC/SC client library (libpcsclite.so.1).
 *
 * pcsc-lite on Linux x86_64 uses 64-bit DWORD/LONG handles and lengths, while the Windows side
 * uses 32-bit DWORD/LONG. Only fixed-width types cross this header, so neither side's DWORD
 * leaks into the other. pcsclite_client.c is the only file that includes pcsc-lite's headers;
 * the bridge_*.c files are the only ones that include Wine's. */
#ifndef QARDEX_WINSCARD_BRIDGE_PCSCLITE_CLIENT_H
#define QARDEX_WINSCARD_BRIDGE_PCSCLITE_CLIENT_H

#include <stdint.h>

enum {
  PCSC_PROTOCOL_T0 = 0x1,
  PCSC_PROTOCOL_T1 = 0x2,
  PCSC_PROTOCOL_RAW = 0x4,
};

/* Largest APDU pcsc-lite transfers in either direction (extended length). */
#define PCSC_MAX_BUFFER_EXTENDED ((uint64_t)(4 + 3 + (1 << 16) + 3 + 2))

/* Every function returns pcsc-lite's result code; when libpcsclite.so.1 cannot be loaded the
 * result is SCARD_E_NO_SERVICE, as if the service were not running. Out-parameters are written
 * by pcsc-lite only. pcsc_transmit builds pcsc-lite's 16-byte SCARD_IO_REQUESTs from the
 * protocols; receive_protocol may be NULL. */
int64_t pcsc_establish_context(uint64_t scope, int64_t* context);
int64_t pcsc_release_context(int64_t context);
int64_t pcsc_is_valid_context(int64_t context);
int64_t pcsc_list_readers(int64_t context, const char* groups, char* readers, uint64_t* length);
int64_t pcsc_connect(int64_t context, const char* reader, uint64_t share_mode,
                     uint64_t preferred_protocols, int64_t* card, uint64_t* active_protocol);
int64_t pcsc_disconnect(int64_t card, uint64_t disposition);
int64_t pcsc_begin_transaction(int64_t card);
int64_t pcsc_end_transaction(int64_t card, uint64_t disposition);
/* One entry of a status-change wait; at most PCSC_MAX_WAIT_READERS entries per wait. */
#define PCSC_MAX_WAIT_READERS 16
struct pcsc_reader_state {
  const char* reader;
  uint64_t current_state;
  uint64_t event_state;
};
int64_t pcsc_get_status_change(int64_t context, uint64_t timeout, struct pcsc_reader_state* states,
                               uint64_t count);
int64_t pcsc_transmit(int64_t card, uint64_t send_protocol, const uint8_t* send,
                      uint64_t send_length, uint64_t* receive_protocol, uint8_t* receive,
                      uint64_t* receive_length);
/* The card's state bits and protocol; the reader name and ATR are not asked for. */
int64_t pcsc_status(int64_t card, uint64_t* state, uint64_t* protocol);

#endif
