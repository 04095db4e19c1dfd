// What the operations need from the system besides the log: the readers, the network, the key
// handling, the system's message texts and the calendar. The library binds it to Windows; tests
// bind it to fakes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "card/pcsc_api.h"
#include "cloud/sam_session.h"
#include "crypto/calendar_date.h"

namespace qardex::engine {

class Platform {
 public:
  virtual ~Platform() = default;

  virtual card::PcscApi& Pcsc() = 0;

  // Starts the network stack for one call: 0, or the stack's own error number (nothing is to
  // be stopped then). StopNetwork follows every successful start.
  virtual int StartNetwork() = 0;
  virtual void StopNetwork() = 0;
  // Opens connections to the server (directly or through the user's proxy).
  virtual cloud::ServerConnector& Connector() = 0;

  // Key handling for one authentication session, inside BeginCryptoUse/EndCryptoUse.
  virtual void BeginCryptoUse() = 0;
  virtual void EndCryptoUse() = 0;
  virtual std::unique_ptr<cloud::SessionKeys> NewSessionKeys() = 0;
  // The administrator's pin list for the server's key, as set (empty when none is set).
  virtual std::vector<std::string> ServerKeyPins() = 0;
  // Fills `bytes` from the system's cryptographic generator; false when it cannot.
  virtual bool SystemRandom(std::uint8_t* bytes, std::size_t count) = 0;

  // The system's text for an error number in the user's language, or "" when it has none.
  virtual std::string SystemMessage(std::int32_t code) = 0;

  // Today's date in UTC and in local time.
  virtual crypto::CalendarDate UtcDate() = 0;
  virtual crypto::CalendarDate LocalDate() = 0;
};

}  // namespace qardex::engine
