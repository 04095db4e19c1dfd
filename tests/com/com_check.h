// A minimal check framework for programs that run under Wine: each CHECK
// prints on failure, and the program ends with "N passed, M failed".
#pragma once

#include <cstdio>

namespace qardex::check {

inline int passed = 0;
inline int failed = 0;

inline void Record(bool ok, const char* what, const char* file, int line) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    std::printf("FAILED %s:%d: %s\n", file, line, what);
  }
}

inline int Summary() {
  std::printf("%d passed, %d failed\n", passed, failed);
  std::fflush(stdout);
  return failed == 0 ? 0 : 1;
}

}  // namespace qardex::check

#define CHECK(condition) ::qardex::check::Record((condition), #condition, __FILE__, __LINE__)
#define CHECK_HR(expected, expression)                                     \
  do {                                                                     \
    const HRESULT actual_ = (expression);                                  \
    if (actual_ != (expected))                                             \
      std::printf("  got 0x%08lx\n", static_cast<unsigned long>(actual_)); \
    CHECK(actual_ == (expected));                                          \
  } while (0)
