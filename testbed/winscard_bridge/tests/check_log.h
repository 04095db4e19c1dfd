// Counts passed and failed expectations of bridge_check and prints the failures.
#ifndef QARDEX_BRIDGE_CHECK_CHECK_LOG_H
#define QARDEX_BRIDGE_CHECK_CHECK_LOG_H

#include <cstdint>
#include <cstdio>
#include <string>

class CheckLog {
 public:
  void StartGroup(const char* name) { group_ = name; }

  bool Expect(bool ok, const std::string& what) {
    if (ok) {
      ++passed_;
    } else {
      ++failed_;
      std::printf("FAIL [%s] %s\n", group_.c_str(), what.c_str());
    }
    return ok;
  }

  // Result codes compare as their 32 bits, so that LONG and DWORD spellings of one code match.
  bool ExpectResult(uint32_t got, uint32_t want, const std::string& what) {
    return ExpectEqual(got, want, what);
  }

  bool ExpectEqual(uint64_t got, uint64_t want, const std::string& what) {
    char detail[96];
    std::snprintf(detail, sizeof(detail), " (got 0x%llx, want 0x%llx)",
                  static_cast<unsigned long long>(got), static_cast<unsigned long long>(want));
    return Expect(got == want, what + detail);
  }

  int passed() const { return passed_; }
  int failed() const { return failed_; }

 private:
  std::string group_;
  int passed_ = 0;
  int failed_ = 0;
};

#endif
