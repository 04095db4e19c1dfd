#include "setup/narrow_text_win.h"

#include <windows.h>

namespace qardex::setup {

std::optional<std::string> ToNarrow(std::wstring_view wide) {
  if (wide.empty()) return std::string();
  // The UTF-8 code page takes neither flag nor default-character report, and loses nothing.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int wideLength = static_cast<int>(wide.size());
  const int length =
      WideCharToMultiByte(CP_ACP, flags, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::nullopt;
  std::string narrow(static_cast<std::size_t>(length), '\0');
  BOOL defaultUsed = FALSE;
  if (WideCharToMultiByte(CP_ACP, flags, wide.data(), wideLength, narrow.data(), length, nullptr,
                          utf8 ? nullptr : &defaultUsed) != length ||
      defaultUsed) {
    return std::nullopt;
  }
  return narrow;
}

std::wstring ToWide(std::string_view narrow) {
  if (narrow.empty()) return std::wstring();
  const int narrowLength = static_cast<int>(narrow.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, narrow.data(), narrowLength, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, narrow.data(), narrowLength, wide.data(), length);
  return wide;
}

}  // namespace qardex::setup
