// SCardConnectA, SCardTransmit and SCardDisconnect on the test bed's card, and how the bridge
// answers handles that are stale, made up or carry bits above the low 32.
#include <windows.h>
#include <winscard.h>

#include <string>

#include "bridge_checks.h"
#include "guards.h"
#include "scoped_handles.h"

namespace {

constexpr ULONG_PTR kHighBit = ULONG_PTR{1} << 32;
constexpr DWORD kResponseBufferSize = 258;
constexpr ULONG_PTR kHandleGarbage = 0x5A5A5A5A5A5A5A5A;

bool OpenContext(CheckLog& log, ScopedContext& context) {
  SCARDCONTEXT handle = 0;
  LONG result = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &handle);
  if (!log.ExpectResult(result, SCARD_S_SUCCESS, "establish context")) return false;
  context.Adopt(handle);
  return true;
}

bool ConnectCard(CheckLog& log, SCARDCONTEXT context, const std::string& reader, ScopedCard& card) {
  // Garbage in the upper half survives a bridge that stores only 32 bits of the handle.
  Guarded<SCARDHANDLE> handle(kHandleGarbage);
  Guarded<DWORD> protocol(0);
  LONG result = SCardConnectA(context, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1,
                              handle.get(), protocol.get());
  log.ExpectResult(result, SCARD_S_SUCCESS, "connect to '" + reader + "'");
  log.Expect(handle.intact(), "card handle canaries intact");
  log.Expect(handle.value() != kHandleGarbage, "card handle set");
  log.Expect(protocol.intact(), "active protocol canaries intact");
  log.ExpectEqual(protocol.value(), SCARD_PROTOCOL_T1, "active protocol is T=1");
  if (result != SCARD_S_SUCCESS) return false;
  card.Adopt(handle.value());
  return true;
}

// Sends SELECT and returns the number of response bytes, 0 on failure.
DWORD TransmitSelect(SCARDHANDLE card, GuardedBuffer& response, DWORD claimed_length,
                     LONG& result) {
  DWORD length = claimed_length;
  result = SCardTransmit(card, SCARD_PCI_T1, kSelectHc, sizeof(kSelectHc), nullptr, response.data(),
                         &length);
  return result == SCARD_S_SUCCESS ? length : 0;
}

void CheckConnectRefusals(CheckLog& log, SCARDCONTEXT context, const ServiceSetup& setup) {
  for (const std::string& reader : setup.readers) {
    if (reader == setup.card_reader) continue;
    Guarded<SCARDHANDLE> handle(0x5555);
    Guarded<DWORD> protocol(0x6666);
    log.ExpectResult(SCardConnectA(context, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1,
                                   handle.get(), protocol.get()),
                     SCARD_E_NO_SMARTCARD, "connect to the empty reader '" + reader + "'");
    log.Expect(handle.intact() && handle.value() == 0x5555 && protocol.intact() &&
                   protocol.value() == 0x6666,
               "failed connect leaves its out-parameters alone");
  }
  Guarded<SCARDHANDLE> handle(0);
  Guarded<DWORD> protocol(0);
  log.ExpectResult(SCardConnectA(context, "No Such Reader 99", SCARD_SHARE_SHARED,
                                 SCARD_PROTOCOL_T1, handle.get(), protocol.get()),
                   SCARD_E_UNKNOWN_READER, "connect to an unknown reader");
  log.ExpectResult(SCardConnectA(context, nullptr, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1,
                                 handle.get(), protocol.get()),
                   SCARD_E_INVALID_PARAMETER, "connect without a reader name");
  log.Expect(handle.intact() && protocol.intact(), "refused connects write nothing");
}

void CheckSelect(CheckLog& log, SCARDHANDLE card) {
  GuardedBuffer response(kResponseBufferSize);
  Guarded<DWORD> length(kResponseBufferSize);
  LONG result = SCardTransmit(card, SCARD_PCI_T1, kSelectHc, sizeof(kSelectHc), nullptr,
                              response.data(), length.get());
  log.ExpectResult(result, SCARD_S_SUCCESS, "transmit SELECT with the T=1 PCI");
  log.Expect(length.intact(), "response length canaries intact");
  const DWORD got = length.value();
  if (!log.Expect(got >= 2 && got <= kResponseBufferSize, "response length within the buffer"))
    return;
  log.Expect(response.data()[got - 2] == 0x90 && response.data()[got - 1] == 0x00,
             "SELECT answered 90 00");
  log.Expect(response.UntouchedOutside(got), "nothing written past the response");

  // The receive PCI is an 8-byte Windows structure: no 16-byte write may spill over it.
  Guarded<SCARD_IO_REQUEST> receive_pci(SCARD_IO_REQUEST{SCARD_PROTOCOL_T1, 8});
  GuardedBuffer again(kResponseBufferSize);
  DWORD again_length = kResponseBufferSize;
  result = SCardTransmit(card, SCARD_PCI_T1, kSelectHc, sizeof(kSelectHc), receive_pci.get(),
                         again.data(), &again_length);
  log.ExpectResult(result, SCARD_S_SUCCESS, "transmit with a receive PCI");
  log.Expect(receive_pci.intact(), "receive PCI canaries intact");
  // Its protocol is whatever the reader driver reports (vpcd hands back its own numbering), so
  // only the length field is pinned down.
  log.ExpectEqual(receive_pci.value().cbPciLength, 8, "receive PCI keeps its 8-byte length");
  log.ExpectEqual(again_length, got, "same response length with a receive PCI");

  GuardedBuffer exact(got);
  LONG exact_result = SCARD_S_SUCCESS;
  log.ExpectEqual(TransmitSelect(card, exact, got, exact_result), got,
                  "response fits a buffer of exactly its length");
  log.Expect(exact.UntouchedOutside(got), "exact buffer not overrun");

  // One byte too few: refused, and the card's bytes never land past the buffer.
  GuardedBuffer tight(got - 1);
  Guarded<DWORD> tight_length(got - 1);
  result = SCardTransmit(card, SCARD_PCI_T1, kSelectHc, sizeof(kSelectHc), nullptr, tight.data(),
                         tight_length.get());
  log.ExpectResult(result, SCARD_E_INSUFFICIENT_BUFFER, "response into a too-small buffer");
  log.Expect(tight_length.intact(), "too-small length canaries intact");
  log.Expect(tight.UntouchedOutside(got - 1), "too-small buffer not overrun");
}

void CheckTransmitLengths(CheckLog& log, SCARDHANDLE card) {
  // A receive length with the top bit set is a large length, not a negative one.
  GuardedBuffer response(kResponseBufferSize);
  LONG result = SCARD_S_SUCCESS;
  DWORD got = TransmitSelect(card, response, 0x80000000u, result);
  log.ExpectResult(result, SCARD_S_SUCCESS, "receive length 0x80000000");
  log.Expect(got >= 2 && response.UntouchedOutside(got),
             "large receive length writes the reply only");

  DWORD auto_length = SCARD_AUTOALLOCATE;
  log.Expect(SCardTransmit(card, SCARD_PCI_T1, kSelectHc, sizeof(kSelectHc), nullptr,
                           response.data(), &auto_length) != SCARD_S_SUCCESS,
             "transmit refuses an auto-allocated response");

  for (DWORD send_length : {DWORD{0x80000000u}, DWORD{0xFFFFFFFFu}}) {
    Guarded<DWORD> length(kResponseBufferSize);
    GuardedBuffer untouched(kResponseBufferSize);
    result = SCardTransmit(card, SCARD_PCI_T1, kSelectHc, send_length, nullptr, untouched.data(),
                           length.get());
    log.Expect(result != SCARD_S_SUCCESS,
               "absurd send length " + std::to_string(send_length) + " refused");
    log.Expect(length.intact() && untouched.UntouchedOutside(0),
               "absurd send length writes nothing");
  }

  DWORD length = kResponseBufferSize;
  log.ExpectResult(
      SCardTransmit(card, nullptr, kSelectHc, sizeof(kSelectHc), nullptr, response.data(), &length),
      SCARD_E_INVALID_PARAMETER, "transmit without a send PCI");
  log.ExpectResult(SCardTransmit(card, SCARD_PCI_T1, kSelectHc, sizeof(kSelectHc), nullptr,
                                 response.data(), nullptr),
                   SCARD_E_INVALID_PARAMETER, "transmit without a receive length");
}

// The holder's own commands go through inside its transaction. (Another connection's would
// wait in pcsc-lite until the transaction ends, so that is not tried here.)
void CheckTransaction(CheckLog& log, SCARDHANDLE card) {
  GuardedBuffer response(kResponseBufferSize);
  LONG result = SCARD_S_SUCCESS;
  log.ExpectResult(SCardBeginTransaction(card), SCARD_S_SUCCESS, "begin a transaction");
  log.Expect(TransmitSelect(card, response, kResponseBufferSize, result) >= 2,
             "SELECT inside the transaction");
  Guarded<DWORD> state(0);
  Guarded<DWORD> protocol(0);
  log.ExpectResult(
      SCardStatusA(card, nullptr, nullptr, state.get(), protocol.get(), nullptr, nullptr),
      SCARD_S_SUCCESS, "card state inside the transaction");
  log.Expect(state.intact() && protocol.intact(), "state and protocol canaries intact");
  // pcsc-lite reports a connected card as negotiable where Windows says specific.
  log.ExpectEqual(state.value(), SCARD_NEGOTIABLE, "state: powered, protocol to agree on");
  log.ExpectEqual(protocol.value(), SCARD_PROTOCOL_T1, "state's protocol is T=1");
  log.ExpectResult(SCardEndTransaction(card, SCARD_LEAVE_CARD), SCARD_S_SUCCESS,
                   "end the transaction, leaving the card");
}

}  // namespace

void CheckCardExchange(CheckLog& log, const ServiceSetup& setup) {
  log.StartGroup("connect");
  ScopedContext context;
  if (!OpenContext(log, context)) return;
  CheckConnectRefusals(log, context.get(), setup);
  ScopedCard card;
  if (!ConnectCard(log, context.get(), setup.card_reader, card)) return;

  log.StartGroup("transmit");
  CheckSelect(log, card.get());
  CheckTransmitLengths(log, card.get());

  log.StartGroup("transaction");
  CheckTransaction(log, card.get());

  log.StartGroup("connect");
  log.ExpectResult(card.Disconnect(), SCARD_S_SUCCESS, "disconnect, leaving the card");
  log.ExpectResult(context.Release(), SCARD_S_SUCCESS, "release context");
}

void CheckInvalidHandles(CheckLog& log, const ServiceSetup& setup) {
  log.StartGroup("handles");
  ScopedContext context;
  if (!OpenContext(log, context)) return;
  ScopedCard card;
  if (!ConnectCard(log, context.get(), setup.card_reader, card)) return;

  GuardedBuffer response(kResponseBufferSize);
  LONG result = SCARD_S_SUCCESS;
  // A bridge that keeps only the low 32 bits of a handle would accept these.
  const SCARDHANDLE card_with_high_bit = card.get() | kHighBit;
  for (SCARDHANDLE bogus : {SCARDHANDLE{0}, SCARDHANDLE{0xDEADBEEF}, card_with_high_bit}) {
    TransmitSelect(bogus, response, kResponseBufferSize, result);
    log.ExpectResult(result, SCARD_E_INVALID_HANDLE, "transmit on a made-up card handle");
  }
  log.ExpectResult(SCardDisconnect(card_with_high_bit, SCARD_LEAVE_CARD), SCARD_E_INVALID_HANDLE,
                   "disconnect a made-up card handle");
  log.ExpectResult(SCardBeginTransaction(card_with_high_bit), SCARD_E_INVALID_HANDLE,
                   "begin a transaction on a made-up card handle");
  log.ExpectResult(SCardEndTransaction(card_with_high_bit, SCARD_LEAVE_CARD),
                   SCARD_E_INVALID_HANDLE, "end a transaction on a made-up card handle");
  log.Expect(TransmitSelect(card.get(), response, kResponseBufferSize, result) >= 2,
             "the real card handle still works");

  const SCARDHANDLE stale = card.get();
  log.ExpectResult(card.Disconnect(), SCARD_S_SUCCESS, "disconnect");
  TransmitSelect(stale, response, kResponseBufferSize, result);
  log.ExpectResult(result, SCARD_E_INVALID_HANDLE, "transmit after disconnect");
  log.ExpectResult(SCardDisconnect(stale, SCARD_LEAVE_CARD), SCARD_E_INVALID_HANDLE,
                   "disconnect twice");

  const SCARDCONTEXT context_with_high_bit = context.get() | kHighBit;
  DWORD length = 0;
  log.ExpectResult(SCardListReadersA(context_with_high_bit, nullptr, nullptr, &length),
                   SCARD_E_INVALID_HANDLE, "list readers with a made-up context");
  SCARDHANDLE unused = 0;
  DWORD protocol = 0;
  log.ExpectResult(SCardConnectA(context_with_high_bit, setup.card_reader.c_str(),
                                 SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &unused, &protocol),
                   SCARD_E_INVALID_HANDLE, "connect with a made-up context");
  log.ExpectResult(SCardReleaseContext(context_with_high_bit), SCARD_E_INVALID_HANDLE,
                   "release a made-up context");

  const SCARDCONTEXT released = context.get();
  log.ExpectResult(context.Release(), SCARD_S_SUCCESS, "release context");
  log.ExpectResult(SCardIsValidContext(released), SCARD_E_INVALID_HANDLE,
                   "released context is no longer valid");
  log.ExpectResult(SCardReleaseContext(released), SCARD_E_INVALID_HANDLE, "release twice");
}
