// ZEL_FormatMessage: the words for an error code.
#include "engine/error_catalogue.h"
#include "engine/session.h"

namespace qardex::engine {

const std::string& Session::ZEL_FormatMessage(const PageText& code) {
  const std::optional<std::int32_t> number = ParseCodeArgument(code.wideUnits, code.ansi);
  if (!number) return messageText_ = kParameterErrorText;
  return messageText_ = MessageForCode(
             *number, [this](std::int32_t value) { return platform_.SystemMessage(value); });
}

}  // namespace qardex::engine
