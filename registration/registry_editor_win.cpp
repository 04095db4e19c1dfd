#include "registration/registry_editor_win.h"

#include <windows.h>

#include <string>
#include <utility>

namespace qardex::registration {

namespace {

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int units =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(units > 0 ? units : 0), L'\0');
  if (units > 0) {
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
  }
  return wide;
}

HKEY RootHandle(RootKey root) {
  switch (root) {
    case RootKey::LocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RootKey::CurrentUser:
      return HKEY_CURRENT_USER;
    case RootKey::ClassesRoot:
      break;
  }
  return HKEY_CLASSES_ROOT;
}

// An open registry key, closed when done.
class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (handle_) RegCloseKey(handle_);
  }
  HKEY* Receive() { return &handle_; }
  HKEY get() const { return handle_; }

 private:
  HKEY handle_ = nullptr;
};

class WindowsRegistry final : public RegistryEditor {
 public:
  std::int32_t CreateKey(RootKey root, const std::string& path) override {
    Key key;
    return RegCreateKeyExW(RootHandle(root), Wide(path).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                           key.Receive(), nullptr);
  }

  std::int32_t SetString(RootKey root, const std::string& path, const std::string& name,
                         const std::string& text) override {
    Key key;
    if (LONG status = Open(root, path, KEY_SET_VALUE, key)) return status;
    const std::wstring value = Wide(text);
    const std::wstring valueName = Wide(name);
    return RegSetValueExW(key.get(), NameOrDefault(valueName), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }

  std::int32_t SetDword(RootKey root, const std::string& path, const std::string& name,
                        std::uint32_t number) override {
    Key key;
    if (LONG status = Open(root, path, KEY_SET_VALUE, key)) return status;
    const DWORD value = number;
    const std::wstring valueName = Wide(name);
    return RegSetValueExW(key.get(), NameOrDefault(valueName), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value), sizeof value);
  }

  std::int32_t DeleteTree(RootKey root, const std::string& path) override {
    const std::wstring wide = Wide(path);
    LONG status = RegDeleteTreeW(RootHandle(root), wide.c_str());
    if (status == ERROR_SUCCESS) status = RegDeleteKeyW(RootHandle(root), wide.c_str());
    return Missing(status) ? ERROR_SUCCESS : status;
  }

  std::int32_t DeleteValue(RootKey root, const std::string& path,
                           const std::string& name) override {
    Key key;
    const std::wstring valueName = Wide(name);
    LONG status = Open(root, path, KEY_SET_VALUE, key);
    if (status == ERROR_SUCCESS) status = RegDeleteValueW(key.get(), NameOrDefault(valueName));
    return Missing(status) ? ERROR_SUCCESS : status;
  }

  bool IsEmptyKey(RootKey root, const std::string& path) override {
    Key key;
    if (Open(root, path, KEY_READ, key) != ERROR_SUCCESS) return false;
    DWORD subkeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    return subkeys == 0 && values == 0;
  }

 private:
  // The empty name stands for the key's default value.
  static const wchar_t* NameOrDefault(const std::wstring& name) {
    return name.empty() ? nullptr : name.c_str();
  }
  static bool Missing(LONG status) { return status == ERROR_FILE_NOT_FOUND; }
  static LONG Open(RootKey root, const std::string& path, REGSAM access, Key& key) {
    return RegOpenKeyExW(RootHandle(root), Wide(path).c_str(), 0, access, key.Receive());
  }
};

}  // namespace

RegistryEditor& SystemRegistry() {
  static WindowsRegistry registry;
  return registry;
}

}  // namespace qardex::registration
