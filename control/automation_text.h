// The automation strings of the control's methods and the engine's text form (see
// engine/session.h): page strings in, results out, both through the system's ANSI code page.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "engine/session.h"

namespace qardex::control {

// The page's string as the engine takes it; a null BSTR is the empty string.
engine::PageText PageTextOf(BSTR text);

// Widens an engine result (up to its first NUL) and hands the caller a new BSTR.
HRESULT DeliverText(const std::string& ansi, BSTR* out);

}  // namespace qardex::control
