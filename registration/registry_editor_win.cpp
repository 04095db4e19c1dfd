#include "registration/registry_editor_win.h"

#include <windows.h>

#include <string>
#include <utility>

#include "common/text_conversion.h"
#include "common/win_handles.h"

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

// A key a Reg* call opened (null when it failed) and that call's status.
struct OpenedKey {
  LONG status = ERROR_SUCCESS;
  common::RegistryKey key;
};

class WindowsRegistry final : public RegistryEditor {
 public:
  std::int32_t CreateKey(RootKey root, const std::string& path) override {
    HKEY created = nullptr;
    const LONG status = RegCreateKeyExW(RootHandle(root), Utf8ToWide(path).c_str(), 0, nullptr, 0,
                                        KEY_WRITE, nullptr, &created, nullptr);
    const common::RegistryKey key(created);
    return status;
  }

  std::int32_t SetString(RootKey root, const std::string& path, const std::string& name,
                         const std::string& text) override {
    const OpenedKey key = Open(root, path, KEY_SET_VALUE);
    if (key.status != ERROR_SUCCESS) return key.status;
    const std::wstring value = Utf8ToWide(text);
    const std::wstring valueName = Utf8ToWide(name);
    return RegSetValueExW(key.key.get(), NameOrDefault(valueName), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }

  std::int32_t SetDword(RootKey root, const std::string& path, const std::string& name,
                        std::uint32_t number) override {
    const OpenedKey key = Open(root, path, KEY_SET_VALUE);
    if (key.status != ERROR_SUCCESS) return key.status;
    const DWORD value = number;
    const std::wstring valueName = Utf8ToWide(name);
    return RegSetValueExW(key.key.get(), NameOrDefault(valueName), 0, REG_DWORD,
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
    const std::wstring valueName = Utf8ToWide(name);
    const OpenedKey key = Open(root, path, KEY_SET_VALUE);
    LONG status = key.status;
    if (status == ERROR_SUCCESS) status = RegDeleteValueW(key.key.get(), NameOrDefault(valueName));
    return Missing(status) ? ERROR_SUCCESS : status;
  }

  bool IsEmptyKey(RootKey root, const std::string& path) override {
    const OpenedKey key = Open(root, path, KEY_READ);
    if (key.status != ERROR_SUCCESS) return false;
    DWORD subkeys = 0;
    DWORD values = 0;
    if (RegQueryInfoKeyW(key.key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                         &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
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
  static OpenedKey Open(RootKey root, const std::string& path, REGSAM access) {
    HKEY opened = nullptr;
    const LONG status =
        RegOpenKeyExW(RootHandle(root), Utf8ToWide(path).c_str(), 0, access, &opened);
    return {status, common::RegistryKey(opened)};
  }
};

}  // namespace

RegistryEditor& SystemRegistry() {
  static WindowsRegistry registry;
  return registry;
}

}  // namespace qardex::registration
