#include "keymint/mint_error.h"

#include <openssl/err.h>

namespace qardex::keymint {

void FailWithOpenSsl(const std::string& what) {
  std::string message = what + " failed";
  char reason[256];
  for (unsigned long code = ERR_get_error(); code != 0; code = ERR_get_error()) {
    ERR_error_string_n(code, reason, sizeof reason);
    message += "; ";
    message += reason;
  }
  throw MintError(message);
}

}  // namespace qardex::keymint
