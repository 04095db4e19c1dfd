#include "control/automation_text.h"

#include "common/text_conversion.h"

namespace qardex::control {

engine::PageText PageTextOf(BSTR text) {
  engine::PageText page;
  if (text == nullptr) return page;
  page.wideUnits = SysStringLen(text);
  page.ansi = common::WideToAnsi(std::wstring(text, page.wideUnits));
  // Text after an embedded NUL is not part of the narrow string.
  page.ansi.resize(std::char_traits<char>::length(page.ansi.c_str()));
  return page;
}

HRESULT DeliverText(const std::string& ansi, BSTR* out) {
  *out = nullptr;
  const std::wstring wide = common::AnsiToWide(std::string(ansi.c_str()));
  *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace qardex::control
