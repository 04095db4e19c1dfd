#include "checkup/extension_probes_win.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "checkup/registry_values_win.h"
#include "common/text_conversion.h"
#include "common/win_handles.h"
#include "messaging/extension_policies.h"
#include "messaging/host_registrations.h"
#include "qardex_extension.h"

namespace qardex::checkup {

namespace {

// A manifest is a few hundred bytes; anything past this is not one.
constexpr std::uintmax_t kLargestManifest = 1024 * 1024;

// Every text value of a key, as (name, data).
std::vector<std::pair<std::string, std::string>> TextValues(HKEY key) {
  std::vector<std::pair<std::string, std::string>> values;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD length = static_cast<DWORD>(std::size(name));
    const LONG result =
        RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS) continue;
    if (std::optional<std::string> data = TextValue(key, name)) {
      values.emplace_back(common::WideToUtf8(std::wstring(name, length)), std::move(*data));
    }
  }
  return values;
}

std::optional<std::string> ReadManifest(const std::string& path) {
  const std::filesystem::path file(common::Utf8ToWide(path));
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(file, error);
  if (error || size > kLargestManifest) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) return std::nullopt;
  return text;
}

std::optional<HostPlace> Registration(HKEY root, const std::wstring& key, REGSAM view) {
  const common::RegistryKey opened = OpenKey(root, key, view);
  if (!opened) return std::nullopt;
  std::optional<std::string> manifest = TextValue(opened.get(), nullptr);
  if (!manifest) return std::nullopt;
  return HostPlace{*manifest, ReadManifest(*manifest)};
}

void ProbePolicy(const messaging::ExtensionPolicy& policy, BrowserExtensionFacts& facts) {
  const REGSAM view = KEY_WOW64_64KEY;  // policies are read where group policy writes them
  const std::wstring key = messaging::PolicyKey(policy);
  if (policy.family == messaging::BrowserFamily::Chromium) {
    if (const common::RegistryKey list = OpenKey(HKEY_LOCAL_MACHINE, key, view)) {
      facts.forcelist = TextValues(list.get());
    }
    return;
  }
  if (const common::RegistryKey root = OpenKey(HKEY_LOCAL_MACHINE, policy.root, view)) {
    facts.settingsJson = TextValue(root.get(), policy.name.c_str());
  }
  facts.settingsKey = static_cast<bool>(OpenKey(HKEY_LOCAL_MACHINE, key, view));
  const std::wstring ours = key + L"\\" + common::Utf8ToWide(build::kFirefoxExtensionId);
  if (const common::RegistryKey subkey = OpenKey(HKEY_LOCAL_MACHINE, ours, view)) {
    facts.settingsOurs = TextValues(subkey.get());
  }
}

}  // namespace

std::vector<BrowserExtensionFacts> ProbeExtension() {
  std::vector<BrowserExtensionFacts> browsers;
  for (const messaging::BrowserRegistration& browser : messaging::HostRegistrations()) {
    BrowserExtensionFacts facts;
    facts.browser = browser.browser;
    facts.family = browser.family;
    facts.user = Registration(HKEY_CURRENT_USER, browser.key, 0);
    facts.machine = Registration(HKEY_LOCAL_MACHINE, browser.key, KEY_WOW64_32KEY);
    if (!facts.machine)
      facts.machine = Registration(HKEY_LOCAL_MACHINE, browser.key, KEY_WOW64_64KEY);
    for (const messaging::ExtensionPolicy& policy : messaging::ExtensionPolicies()) {
      if (std::string(policy.browser) == browser.browser) ProbePolicy(policy, facts);
    }
    browsers.push_back(std::move(facts));
  }
  return browsers;
}

bool FileIsThere(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(common::Utf8ToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace qardex::checkup
