// The one failure type of the certificate tool: what could not be done, with libcrypto's reason
// where it has one. The program turns it into its message and a non-zero exit code.
#pragma once

#include <stdexcept>
#include <string>

namespace qardex::keymint {

class MintError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws a MintError naming `what`, followed by libcrypto's queued reasons (the queue is emptied).
[[noreturn]] void FailWithOpenSsl(const std::string& what);

inline void Require(bool done, const char* what) {
  if (!done) FailWithOpenSsl(what);
}

}  // namespace qardex::keymint
