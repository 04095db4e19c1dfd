// The twelve methods a page may call through the service: names, argument and
// result types, and whether a call works with the card. The only list of them
// in the service; the binding to the engine and the router both read it.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "service/json_text.h"

namespace qardex::service {

using ValueType = JsonValue::Kind;

inline constexpr std::size_t kMaxMethodArgs = 1;

struct MethodSignature {
  std::string_view name;
  std::size_t argCount;
  ValueType argTypes[kMaxMethodArgs];
  ValueType result;
  // Card work is serialised: one card transaction at a time in the process.
  bool usesCard;
};

// In the order of the control's dispatch identifiers (1 to 12).
inline constexpr MethodSignature kMethods[] = {
    {"GetVersion", 0, {}, ValueType::String, false},
    {"GetRandom", 0, {}, ValueType::String, false},
    {"GetBasic", 0, {}, ValueType::String, true},
    {"H_Sign", 1, {ValueType::String}, ValueType::String, true},
    {"GetReaders", 0, {}, ValueType::String, true},
    {"GetHCConnectNo", 0, {}, ValueType::Number, true},
    {"ServiceStatus", 0, {}, ValueType::Number, false},
    {"GetName", 0, {}, ValueType::String, true},
    {"ZEL_FormatMessage", 1, {ValueType::String}, ValueType::String, false},
    {"SecureGetBasicWithParam", 1, {ValueType::String}, ValueType::String, true},
    {"GetLastError", 0, {}, ValueType::Number, false},
    {"EnCrypt", 1, {ValueType::String}, ValueType::String, true},
};
static_assert(sizeof kMethods / sizeof kMethods[0] == 12);

// The method of that exact (case-sensitive) name, or null.
const MethodSignature* FindMethod(std::string_view name);

// Do the arguments have the count and types the method takes?
bool ArgumentsFit(const MethodSignature& method, const std::vector<JsonValue>& args);

}  // namespace qardex::service
