// Where each browser looks for the native host's manifest on Windows: a key per browser, under
// HKEY_CURRENT_USER for one user or HKEY_LOCAL_MACHINE for every user, whose default value is the
// manifest's full path. The manifests ship beside QARDEXHost.exe and name it by a relative path,
// so registering is only pointing the keys at them. Read by the host's registration, the
// installer package's rows and --diagnose.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qardex::messaging {

enum class BrowserFamily { Chromium, Firefox };

struct BrowserRegistration {
  const char* browser;   // for people: "Chrome"
  BrowserFamily family;  // which manifest it reads
  std::wstring key;      // below the root, without a leading backslash
};

// Chrome, Chromium, Edge and Firefox, in that order.
const std::vector<BrowserRegistration>& HostRegistrations();

// The manifest each family reads, as shipped beside QARDEXHost.exe.
std::wstring ManifestFileName(BrowserFamily family);

// The family of the extension that started the host, from the arguments the browser gave it;
// nothing when the caller is not one of our extensions. A Chromium-family browser passes the
// caller's origin first ("chrome-extension://ID/", on Windows followed by --parent-window=N);
// Firefox passes the manifest's path and then the extension's id.
std::optional<BrowserFamily> CallerFamily(const std::vector<std::string>& args);

}  // namespace qardex::messaging
