#include "engine/page_text.h"

#include "common/text_conversion.h"

namespace qardex::engine {

PageText PageTextOf(const std::wstring& text) {
  PageText page;
  page.wideUnits = text.size();
  page.ansi = common::WideToAnsi(text);
  // Text after an embedded NUL is not part of the narrow string.
  page.ansi.resize(std::char_traits<char>::length(page.ansi.c_str()));
  return page;
}

std::wstring WidenResult(const std::string& ansi) {
  return common::AnsiToWide(std::string(ansi.c_str()));
}

}  // namespace qardex::engine
