#include "protocol/call_values.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace qardex::service {

std::optional<std::vector<ipc::Value>> CallArgsOf(const std::vector<JsonValue>& json) {
  std::vector<ipc::Value> args;
  for (const JsonValue& value : json) {
    if (value.kind == JsonValue::Kind::String) {
      args.push_back(ipc::Value::Text(value.text));
      continue;
    }
    const double number = value.number;
    if (!std::isfinite(number) || std::trunc(number) != number ||
        number < std::numeric_limits<std::int32_t>::min() ||
        number > std::numeric_limits<std::int32_t>::max()) {
      return std::nullopt;
    }
    args.push_back(ipc::Value::Number(static_cast<std::int32_t>(number)));
  }
  return args;
}

JsonValue JsonOf(const ipc::Value& value) {
  return value.kind == ipc::Value::Kind::Text ? JsonValue::String(value.text)
                                              : JsonValue::Number(value.number);
}

}  // namespace qardex::service
