// ZEL_FormatMessage: the words for an error code.
#include "control/ctwqardex.h"
#include "engine/error_catalogue.h"
#include "control/method_guard.h"

namespace qardex::control {

namespace {

// The system's text for a number in the user's language, or "" when the
// system has none.
std::string SystemMessage(std::int32_t code) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text;
  if (buffer != nullptr) {
    text.assign(buffer, length);
    LocalFree(buffer);
  }
  return text;
}

}  // namespace

HRESULT CtwQARDEX::ZEL_FormatMessage(BSTR sCode, BSTR* sMessage) {
  if (sMessage == nullptr) return E_POINTER;
  return Guarded([&] {
    // An absent string reads as the empty one.
    ResultText code;
    HRESULT result = code.AssignWide(sCode);
    if (FAILED(result)) return result;
    const std::optional<std::int32_t> number =
        ParseCodeArgument(sCode ? SysStringLen(sCode) : 0, code.Narrow());
    const std::string text =
        number ? MessageForCode(*number, SystemMessage) : std::string(kParameterErrorText);
    return messageText_.Deliver(text, sMessage);
  });
}

}  // namespace qardex::control
