// The few PC/SC services the control uses, behind a small interface so the
// reader scan and the card commands run against a scripted fake in tests and
// against WinSCard in the library.
#pragma once

#include <cstdint>

namespace qardex::card {

using PcscContext = std::uintptr_t;
using PcscCard = std::uintptr_t;
// PC/SC results are 32-bit on Windows; failures are large unsigned codes that
// read as negative numbers once stored in a signed 32-bit error code.
using PcscStatus = std::int32_t;

inline constexpr PcscStatus kPcscSuccess = 0;
// SCARD_E_INSUFFICIENT_BUFFER: what a listing reports for a reader list larger
// than the control will hold.
inline constexpr PcscStatus kPcscListTooLarge = static_cast<PcscStatus>(0x80100008);
// SCARD_E_SERVICE_STOPPED and SCARD_E_NO_SERVICE: the smart-card service went away under an open
// context (Windows stops it when the last reader goes and starts it again when one comes).
inline constexpr PcscStatus kPcscServiceStopped = static_cast<PcscStatus>(0x8010001E);
inline constexpr PcscStatus kPcscNoService = static_cast<PcscStatus>(0x8010001D);

class PcscApi {
 public:
  virtual ~PcscApi() = default;
  // System scope.
  virtual PcscStatus EstablishContext(PcscContext* context) = 0;
  // All groups. With a null buffer only the length (bytes of the reader
  // multi-string, final NUL included) is reported.
  virtual PcscStatus ListReaders(PcscContext context, char* buffer, std::uint32_t* length) = 0;
  // Shared access, T=1 only; the active protocol is not reported.
  virtual PcscStatus Connect(PcscContext context, const char* reader, PcscCard* card) = 0;
  // T=1 exchange; `responseLength` is the buffer size in, the bytes received out.
  virtual PcscStatus Transmit(PcscCard card, const std::uint8_t* command,
                              std::uint32_t commandLength, std::uint8_t* response,
                              std::uint32_t* responseLength) = 0;
  // Exclusive use of the card for a sequence of commands, so that no other
  // client can come between them; ending leaves the card as it is.
  virtual PcscStatus BeginTransaction(PcscCard card) = 0;
  virtual PcscStatus EndTransaction(PcscCard card) = 0;
  // Asks for the card's state (nothing else is reported). The cheapest call that counts as a use
  // of the card: Windows ends a transaction, and resets the card, after 5 s without one.
  virtual PcscStatus Status(PcscCard card) = 0;
  // Leaves the card as it is (no reset, no eject).
  virtual PcscStatus Disconnect(PcscCard card) = 0;
  virtual PcscStatus ReleaseContext(PcscContext context) = 0;
};

// The binding the library uses (WinSCard on Windows).
PcscApi& SystemPcsc();

}  // namespace qardex::card
