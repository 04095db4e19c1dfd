#include "host/user_registration.h"

#include <windows.h>

#include "common/text_conversion.h"
#include "messaging/host_registrations.h"

namespace qardex::host {

namespace {

std::string ErrorText(LSTATUS status) { return "error " + std::to_string(status); }

}  // namespace

std::vector<RegistrationStep> RegisterUser(const std::filesystem::path& programFolder) {
  std::vector<RegistrationStep> steps;
  for (const messaging::BrowserRegistration& browser : messaging::HostRegistrations()) {
    RegistrationStep step{browser.browser, false, {}};
    const std::filesystem::path manifest =
        programFolder / messaging::ManifestFileName(browser.family);
    std::error_code error;
    if (!std::filesystem::is_regular_file(manifest, error)) {
      step.detail = common::WideToUtf8(manifest.wstring()) + " is missing";
    } else {
      const std::wstring value = manifest.wstring();
      const LSTATUS status =
          RegSetKeyValueW(HKEY_CURRENT_USER, browser.key.c_str(), nullptr, REG_SZ, value.c_str(),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
      step.done = status == ERROR_SUCCESS;
      step.detail = step.done ? common::WideToUtf8(value) : ErrorText(status);
    }
    steps.push_back(std::move(step));
  }
  return steps;
}

std::vector<RegistrationStep> UnregisterUser() {
  std::vector<RegistrationStep> steps;
  for (const messaging::BrowserRegistration& browser : messaging::HostRegistrations()) {
    const LSTATUS status = RegDeleteTreeW(HKEY_CURRENT_USER, browser.key.c_str());
    const bool gone = status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    steps.push_back({browser.browser, gone,
                     status == ERROR_FILE_NOT_FOUND ? "was not registered"
                     : gone                         ? "removed"
                                                    : ErrorText(status)});
  }
  return steps;
}

}  // namespace qardex::host
