// How a harness reports a broken invariant: one line naming it, then a crash
// libFuzzer keeps the input of. Faults already known and being mended
// elsewhere can be looked past, so a long run keeps finding new ones:
// QARDEX_FUZZ_KNOWN holds ";"-separated parts of their names.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace qardex::fuzzing {

// Whether `what` names a fault listed in QARDEX_FUZZ_KNOWN.
bool KnownFault(const char* what);

}  // namespace qardex::fuzzing

#define QARDEX_FUZZ_CHECK(condition, what)                                   \
  do {                                                                       \
    if (!(condition)) {                                                      \
      if (qardex::fuzzing::KnownFault(what)) return 0;                       \
      std::fprintf(stderr, "invariant broken: %s (%s)\n", what, #condition); \
      std::abort();                                                          \
    }                                                                        \
  } while (0)
