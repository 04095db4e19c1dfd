// Between the JSON of a request or an answer and the values a call carries to its worker.
#pragma once

#include <optional>
#include <vector>

#include "ipc/message.h"
#include "protocol/json_text.h"

namespace qardex::service {

// Strings become texts and whole numbers within 32 bits numbers; any other number makes the
// arguments unusable (nothing).
std::optional<std::vector<ipc::Value>> CallArgsOf(const std::vector<JsonValue>& json);

JsonValue JsonOf(const ipc::Value& value);

}  // namespace qardex::service
