// One caller's session with the card and the server: the twelve operations of the control,
// free of any component technology, so the scriptable control and any other front end give
// byte-identical answers.
//
// Texts cross this boundary in one form:
//  - Inputs are PageText: the page's string in the system's ANSI code page (cut at its first
//    NUL) together with its length in UTF-16 units; an absent string is the empty one.
//  - Text results are narrow text in the system's ANSI code page. A front end that hands
//    UTF-16 to the page widens them with that same code page (GetName's result is the UTF-8
//    form of the name, which then reaches the page widened byte by byte like any other text).
//  - Number results are 32-bit codes as they are.
// A session belongs to one thread: the random generator it seeds is the calling thread's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/platform.h"

namespace qardex::engine {

// What GetVersion answers: the component's interface version, the same for every session.
inline constexpr char kComponentVersion[] = "0001";

struct PageText {
  std::string ansi;
  std::size_t wideUnits = 0;
};

class Session {
 public:
  // Seeds the calling thread's generator with the time, as a new control does.
  explicit Session(Platform& platform);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const std::string& GetVersion();
  const std::string& GetRandom();
  // The holder's basic data "card,id,name,birth,sex,flag", or the failure's code as text.
  std::string GetBasic();
  // The server's 256-byte result, or a code as text.
  const std::string& H_Sign(const PageText& pageRandom);
  // The usable reader names joined by ",", or "N/A".
  const std::string& GetReaders();
  // The position of the reader holding the card, or -1.
  std::int32_t GetHCConnectNo();
  // 0 when the server can be reached, 4061 when not, or the network stack's number.
  std::int32_t ServiceStatus();
  std::string GetName();
  const std::string& ZEL_FormatMessage(const PageText& code);
  // `pageRandom` is accepted and not used.
  std::string SecureGetBasicWithParam(const PageText& pageRandom);
  std::int32_t GetLastError() const { return lastError_; }
  std::string EnCrypt(const PageText& input);

 private:
  // A failure's code goes to lastError and its decimal text is the result.
  std::string Fail(std::int32_t code);

  Platform& platform_;
  std::int32_t lastError_ = 0;
  // The last results of the operations that keep theirs.
  std::string versionText_;
  std::string randomText_;
  std::string readerListText_;
  std::string signatureText_;
  std::string messageText_;
};

}  // namespace qardex::engine
