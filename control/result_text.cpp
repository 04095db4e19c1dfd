#include "control/result_text.h"

#include <vector>

namespace qardex::control {

HRESULT ResultText::AssignNarrow(const char* text) {
  if (text == nullptr) text = "";
  const int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (units <= 0) return HRESULT_FROM_WIN32(::GetLastError());
  std::vector<wchar_t> wide(static_cast<std::size_t>(units));
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), units) != units) {
    return HRESULT_FROM_WIN32(::GetLastError());
  }
  com::Bstr converted(SysAllocStringLen(wide.data(), static_cast<UINT>(units - 1)));
  if (!converted.get()) return E_OUTOFMEMORY;
  text_ = std::move(converted);
  narrowValid_ = false;
  return S_OK;
}

HRESULT ResultText::AssignWide(BSTR text) {
  if (text == nullptr) {
    Clear();
    return S_OK;
  }
  com::Bstr copy(
      SysAllocStringByteLen(reinterpret_cast<const char*>(text), SysStringByteLen(text)));
  if (!copy.get()) return E_OUTOFMEMORY;
  text_ = std::move(copy);
  narrowValid_ = false;
  return S_OK;
}

void ResultText::Clear() {
  text_.Reset();
  narrow_.clear();
  narrowValid_ = false;
}

HRESULT ResultText::CopyTo(BSTR* out) const {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (text_.get() == nullptr) return S_OK;
  *out = SysAllocStringByteLen(reinterpret_cast<const char*>(text_.get()),
                               SysStringByteLen(text_.get()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT ResultText::Deliver(const std::string& narrow, BSTR* out) {
  const HRESULT assigned = AssignNarrow(narrow);
  return FAILED(assigned) ? assigned : CopyTo(out);
}

const std::string& ResultText::Narrow() {
  if (narrowValid_) return narrow_;
  narrow_.clear();
  const int units = static_cast<int>(text_.length());
  if (units > 0) {
    const int bytes =
        WideCharToMultiByte(CP_ACP, 0, text_.get(), units, nullptr, 0, nullptr, nullptr);
    if (bytes > 0) {
      narrow_.resize(static_cast<std::size_t>(bytes));
      WideCharToMultiByte(CP_ACP, 0, text_.get(), units, narrow_.data(), bytes, nullptr, nullptr);
    }
  }
  // Text after an embedded NUL is not part of the narrow string.
  narrow_.resize(std::char_traits<char>::length(narrow_.c_str()));
  narrowValid_ = true;
  return narrow_;
}

}  // namespace qardex::control
