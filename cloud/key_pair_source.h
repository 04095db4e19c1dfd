// Where a session's one-use client key pair comes from. The control makes it in the call; the
// worker hands over one it made ahead (cloud/key_pairs_made_ahead.h).
#pragma once

#include "cloud/rsa_pem.h"

namespace qardex::cloud {

class KeyPairSource {
 public:
  virtual ~KeyPairSource() = default;
  // A key pair nobody else holds, or null when none could be made (logged as the call's own).
  virtual KeyPair Take() = 0;
  // The call that took a key pair is done with it (freed): a source that makes key pairs ahead
  // makes the next one from now on, not while the call runs.
  virtual void Done() {}
};

// Makes each key pair when it is asked for, on the caller's thread.
KeyPairSource& KeysMadeInTheCall();

}  // namespace qardex::cloud
