// The twelve methods a page may call through the service: names, argument and result types, and
// whether a call works with the card. The only list of them: the service checks calls against
// it, the worker runs them by it, and the page library's build reads its rows.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "ipc/message.h"

namespace qardex::ipc {

using ValueType = Value::Kind;

inline constexpr std::size_t kMaxMethodArgs = 1;
static_assert(kMaxMethodArgs <= kMaxArguments);

struct MethodSignature {
  std::string_view name;
  std::size_t argCount;
  ValueType argTypes[kMaxMethodArgs];
  ValueType result;
  // Card work is serialised: one card transaction at a time for a user.
  bool usesCard;
  // Answers from the session's state alone, in microseconds: the worker may run it at once on
  // the thread that reads the pipe instead of starting a thread for it.
  bool immediate;
};

// In the order of the control's dispatch identifiers (1 to 12).
inline constexpr MethodSignature kMethods[] = {
    {"GetVersion", 0, {}, ValueType::Text, false, true},
    {"GetRandom", 0, {}, ValueType::Text, false, true},
    {"GetBasic", 0, {}, ValueType::Text, true, false},
    {"H_Sign", 1, {ValueType::Text}, ValueType::Text, true, false},
    {"GetReaders", 0, {}, ValueType::Text, true, false},
    {"GetHCConnectNo", 0, {}, ValueType::Number, true, false},
    {"ServiceStatus", 0, {}, ValueType::Number, false, false},
    {"GetName", 0, {}, ValueType::Text, true, false},
    {"ZEL_FormatMessage", 1, {ValueType::Text}, ValueType::Text, false, true},
    {"SecureGetBasicWithParam", 1, {ValueType::Text}, ValueType::Text, true, false},
    {"GetLastError", 0, {}, ValueType::Number, false, true},
    {"EnCrypt", 1, {ValueType::Text}, ValueType::Text, true, false},
};
static_assert(sizeof kMethods / sizeof kMethods[0] == 12);

// The method of that exact (case-sensitive) name, or null.
const MethodSignature* FindMethod(std::string_view name);

// Do the arguments have the count and types the method takes?
bool ArgumentsFit(const MethodSignature& method, const std::vector<Value>& args);

}  // namespace qardex::ipc
