#include "registration/registry_editor_win.h"

#include <windows.h>

#include <string>
#include <utility>

#include "common/text_conversion.h"

namespace qardex::registration {

namespace {

using common::Utf8ToWide;

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
    return RegCreateKeyExW(RootHandle(root), Utf8ToWide(path).c_str(), 0, nullptr, 0, KEY_WRITE,
                           nullptr, key.Receive(), nullptr);
  }

  std::int32_t SetString(RootKey root, const std::string& path, const std::string& name,
                         const std::string& text) override {
    Key key;
    if (LONG status = Open(root, path, KEY_SET_VALUE, key)) return status;
    const std::wstring value = Utf8ToWide(text);
    const std::wstring valueName = Utf8ToWide(name);
    return RegSetValueExW(key.get(), NameOrDefault(valueName), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }

  std::int32_t SetDword(RootKey root, const std::string& path, const std::string& name,
                        std::uint32_t number) override {
    Key key;
    if (LONG status = Open(root, path, KEY_SET_VALUE, key)) return status;
    const DWORD value = number;
    const std::wstring valueName = Utf8ToWide(name);
    return RegSetValueExW(key.get(), NameOrDefault(valueName), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&value), sizeof value);
  }

  std::int32_t DeleteTree(RootKey root, const std::string& path) override {
    const std::wstring wide = Utf8ToWide(path);
    LONG status = RegDeleteTreeW(RootHandle(root), wide.c_str());
    if (status == ERROR_SUCCESS) status = RegDeleteKeyW(RootHandle(root), wide.c_str());
    return Missing(status) ? ERROR_SUCCESS : status;
  }

  std::int32_t DeleteValue(RootKey root, const std::string& path,
                           const std::string& name) override {
    Key key;
    const std::wstring valueName = Utf8ToWide(name);
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
    return RegOpenKeyExW(RootHandle(root), Utf8ToWide(path).c_str(), 0, access, key.Receive());
  }
};

}  // namespace

RegistryEditor& SystemRegistry() {
  static WindowsRegistry registry;
  return registry;
}

}  // namespace qardex::registration
