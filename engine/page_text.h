// The engine's text form (see session.h) made from and turned back into UTF-16: the one place
// every front end converts a page's strings and the engine's results.
#pragma once

#include <string>

#include "engine/session.h"

namespace qardex::engine {

// The page's UTF-16 string in the ANSI code page, cut at its first NUL, with its full length.
PageText PageTextOf(const std::wstring& text);

// An engine result (up to its first NUL) widened through the ANSI code page.
std::wstring WidenResult(const std::string& ansi);

}  // namespace qardex::engine
