// Reading the registry for the checks and the bundle: keys opened for reading in a chosen view,
// text values as UTF-8, the names of a key's subkeys.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "common/win_handles.h"

namespace qardex::checkup {

// Null when the key cannot be opened; `view` is 0, KEY_WOW64_32KEY or KEY_WOW64_64KEY.
common::RegistryKey OpenKey(HKEY root, const std::wstring& path, REGSAM view);

// A text value (REG_SZ, REG_EXPAND_SZ unexpanded, REG_MULTI_SZ with its strings on lines);
// `name` null for the key's default value.
std::optional<std::string> TextValue(HKEY key, const wchar_t* name);

std::vector<std::wstring> SubkeyNames(HKEY key);

}  // namespace qardex::checkup
