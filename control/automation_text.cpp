#include "control/automation_text.h"

#include "engine/page_text.h"

namespace qardex::control {

engine::PageText PageTextOf(BSTR text) {
  if (text == nullptr) return {};
  return engine::PageTextOf(std::wstring(text, SysStringLen(text)));
}

HRESULT DeliverText(const std::string& ansi, BSTR* out) {
  *out = nullptr;
  const std::wstring wide = engine::WidenResult(ansi);
  *out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace qardex::control
