#include "setup/install_texts.h"

#include <cstdarg>
#include <cstdio>

namespace qardex::setup {

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<std::size_t>(length));
  }
  va_end(again);
  return text;
}

namespace text {

namespace {
std::string Stamped(const char* what, const LocalStamp& t) {
  return Format("mQARDEX Install %s in %04d-%02d-%02d %02d:%02d:%02d", what, t.year, t.month, t.day,
                t.hour, t.minute, t.second);
}
}  // namespace

std::string LogStart(const LocalStamp& stamp) { return Stamped("Start", stamp); }
std::string LogEnd(const LocalStamp& stamp) { return Stamped("End", stamp); }

}  // namespace text
}  // namespace qardex::setup
