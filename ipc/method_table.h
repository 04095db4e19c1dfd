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
};

// In the order of the control's dispatch identifiers (1 to 12).
inline constexpr MethodSignature kMethods[] = {
    {"GetVersion", 0, {}, ValueType::Text, false},
    {"GetRandom", 0, {}, ValueType::Text, false},
    {"GetBasic", 0, {}, ValueType::Text, true},
    {"H_Sign", 1, {ValueType::Text}, ValueType::Text, true},
    {"GetReaders", 0, {}, ValueType::Text, true},
    {"GetHCConnectNo", 0, {}, ValueType::Number, true},
    {"ServiceStatus", 0, {}, ValueType::Number, false},
    {"GetName", 0, {}, ValueType::Text, true},
    {"ZEL_FormatMessage", 1, {ValueType::Text}, ValueType::Text, false},
    {"SecureGetBasicWithParam", 1, {ValueType::Text}, ValueType::Text, true},
    {"GetLastError", 0, {}, ValueType::Number, false},
    {"EnCrypt", 1, {ValueType::Text}, ValueType::Text, true},
};
static_assert(sizeof kMethods / sizeof kMethods[0] == 12);

// The method of that exact (case-sensitive) name, or null.
const MethodSignature* FindMethod(std::string_view name);

// Do the arguments have the count and types the method takes?
bool ArgumentsFit(const MethodSignature& method, const std::vector<Value>& args);

}  // namespace qardex::ipc
