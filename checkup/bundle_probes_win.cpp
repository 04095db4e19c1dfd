#include "checkup/bundle_probes_win.h"

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "checkup/registry_values_win.h"
#include "common/text_conversion.h"
#include "common/win_handles.h"

namespace qardex::checkup {

namespace {

constexpr wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

void AddPrograms(HKEY root, REGSAM view, ProgramPlace place,
                 std::vector<InstalledProgram>& programs) {
  const common::RegistryKey uninstall = OpenKey(root, kUninstall, view);
  if (!uninstall) return;
  for (const std::wstring& name : SubkeyNames(uninstall.get())) {
    const common::RegistryKey program = OpenKey(uninstall.get(), name, view);
    const std::optional<std::string> displayName =
        program ? TextValue(program.get(), L"DisplayName") : std::nullopt;
    if (!displayName) continue;
    programs.push_back(
        {*displayName, TextValue(program.get(), L"DisplayVersion").value_or(""), place});
  }
}

using WinHttpText = common::GlobalMemory<wchar_t>;

std::string Utf8Of(const WinHttpText& text) {
  return text ? common::WideToUtf8(text.get()) : std::string();
}

}  // namespace

std::vector<InstalledProgram> ProbeInstalledPrograms() {
  std::vector<InstalledProgram> programs;
  AddPrograms(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, ProgramPlace::kMachine, programs);
  AddPrograms(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, ProgramPlace::kMachine32, programs);
  AddPrograms(HKEY_CURRENT_USER, 0, ProgramPlace::kUser, programs);
  return programs;
}

UserProxySettings ProbeUserProxy() {
  UserProxySettings settings;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) {
    settings.error = GetLastError();
    return settings;
  }
  const WinHttpText script(config.lpszAutoConfigUrl);
  const WinHttpText proxy(config.lpszProxy);
  const WinHttpText bypass(config.lpszProxyBypass);
  settings.autoDetect = config.fAutoDetect != FALSE;
  settings.scriptUrl = Utf8Of(script);
  settings.proxy = Utf8Of(proxy);
  settings.bypass = Utf8Of(bypass);
  return settings;
}

MachineProxySettings ProbeMachineProxy() {
  MachineProxySettings settings;
  WINHTTP_PROXY_INFO info{};
  if (!WinHttpGetDefaultProxyConfiguration(&info)) {
    settings.error = GetLastError();
    return settings;
  }
  const WinHttpText proxy(info.lpszProxy);
  const WinHttpText bypass(info.lpszProxyBypass);
  switch (info.dwAccessType) {
    case WINHTTP_ACCESS_TYPE_NO_PROXY:
      settings.access = MachineProxySettings::Access::kDirect;
      break;
    case WINHTTP_ACCESS_TYPE_NAMED_PROXY:
      settings.access = MachineProxySettings::Access::kNamedProxy;
      break;
    default:
      settings.access = MachineProxySettings::Access::kOther;
      break;
  }
  settings.proxy = Utf8Of(proxy);
  settings.bypass = Utf8Of(bypass);
  return settings;
}

}  // namespace qardex::checkup
