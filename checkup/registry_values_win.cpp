#include "checkup/registry_values_win.h"

#include <algorithm>
#include <iterator>

#include "common/text_conversion.h"

namespace qardex::checkup {

common::RegistryKey OpenKey(HKEY root, const std::wstring& path, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return nullptr;
  return common::RegistryKey(key);
}

std::optional<std::string> TextValue(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)) {
    return std::nullopt;
  }
  std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  data.resize(bytes / sizeof(wchar_t));
  while (!data.empty() && data.back() == L'\0') data.pop_back();
  if (type == REG_MULTI_SZ) std::replace(data.begin(), data.end(), L'\0', L'\n');
  return common::WideToUtf8(data);
}

std::vector<std::wstring> SubkeyNames(HKEY key) {
  std::vector<std::wstring> names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];  // the longest a key's name may be, and its terminator
    DWORD length = static_cast<DWORD>(std::size(name));
    const LONG result =
        RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result == ERROR_SUCCESS) names.emplace_back(name, length);
  }
  return names;
}

}  // namespace qardex::checkup
