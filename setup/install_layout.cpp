#include "setup/install_layout.h"

#include "setup/install_texts.h"

namespace qardex::setup {

namespace {

// Collects texts and remembers the first one that does not fit.
class Builder {
 public:
  explicit Builder(Overflow* overflow) : overflow_(overflow) {}

  std::string Path(std::string text) { return Checked("Path", std::move(text)); }
  std::string Command(std::string text) { return Checked("Command", std::move(text)); }
  bool ok() const { return ok_; }

 private:
  std::string Checked(const char* kind, std::string text) {
    if (ok_ && text.size() > kPathLimit) {
      ok_ = false;
      if (overflow_) *overflow_ = Overflow{kind, text};
    }
    return text;
  }

  Overflow* overflow_;
  bool ok_ = true;
};

std::string Join(std::string_view folder, std::string_view name) {
  std::string path(folder);
  path += '\\';
  path += name;
  return path;
}

std::string CallQuoted(std::string_view path) {
  std::string command = "call \"";
  command += path;
  command += '"';
  return command;
}

}  // namespace

std::string OverflowLine(const Overflow& overflow) {
  return Format(text::kTooLong, overflow.kind, static_cast<int>(kPathLimit), overflow.text.c_str());
}

constexpr std::string_view kBrowserRootPrefix = "ZELRootCA-";
constexpr std::string_view kBrowserRootSuffix = ".pem";

std::string BrowserRootNameFor(std::string_view rootSerial) {
  return std::string(kBrowserRootPrefix) + std::string(rootSerial) +
         std::string(kBrowserRootSuffix);
}

std::string SerialDigits(const std::vector<unsigned char>& bigEndian) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string digits;
  for (const unsigned char byte : bigEndian) {
    if (digits.empty() && byte == 0) continue;
    digits += kHex[byte >> 4];
    digits += kHex[byte & 0x0f];
  }
  return digits;
}

bool IsBrowserRootName(std::string_view name) {
  if (name.size() <= kBrowserRootPrefix.size() + kBrowserRootSuffix.size() ||
      name.substr(0, kBrowserRootPrefix.size()) != kBrowserRootPrefix ||
      name.substr(name.size() - kBrowserRootSuffix.size()) != kBrowserRootSuffix) {
    return false;
  }
  const std::string_view digits =
      name.substr(kBrowserRootPrefix.size(),
                  name.size() - kBrowserRootPrefix.size() - kBrowserRootSuffix.size());
  return digits.find_first_not_of("0123456789ABCDEF") == std::string_view::npos;
}

std::string BrowserRootCopyFor(std::string_view rootSerial) {
  return Join("certpem", BrowserRootNameFor(rootSerial));
}

std::optional<InstallLayout> BuildInstallLayout(std::string_view folder, Overflow* overflow) {
  Builder b(overflow);
  InstallLayout layout;
  layout.serviceProgram = b.Path(Join(folder, kServiceProgram));
  layout.keyMintCommand = b.Command(CallQuoted(Join(folder, kKeyMintProgram)));
  layout.trustCommand = b.Command(CallQuoted(Join(folder, kTrustScript)) + ' ');
  for (std::size_t i = 0; i < layout.copies.size(); ++i) {
    layout.copies[i].source = b.Path(Join(folder, kCertificateCopyNames[i][0]));
    layout.copies[i].destination = b.Path(Join(folder, kCertificateCopyNames[i][1]));
  }
  // The root store receives the copy the installer itself placed.
  layout.rootCertificate = layout.copies[kRootCertificateCopy].destination;
  if (!b.ok()) return std::nullopt;
  return layout;
}

std::optional<std::string> ScriptCommand(std::string_view folder, std::string_view script,
                                         Overflow* overflow) {
  Builder b(overflow);
  std::string command = b.Command(CallQuoted(Join(folder, script)) + ' ');
  if (!b.ok()) return std::nullopt;
  return command;
}

std::optional<std::string> InstallLogPath(std::string_view tempFolder, Overflow* overflow) {
  Builder b(overflow);
  std::string path = b.Path(std::string(tempFolder) + kInstallLogName);
  if (!b.ok()) return std::nullopt;
  return path;
}

std::optional<HostsPaths> BuildHostsPaths(std::string_view systemFolder, Overflow* overflow) {
  Builder b(overflow);
  HostsPaths paths;
  paths.hosts = b.Path(Join(systemFolder, "drivers\\etc\\hosts"));
  paths.backup = b.Path(paths.hosts + kHostsBackupSuffix);
  paths.staging = b.Path(paths.hosts + kHostsStagingSuffix);
  if (!b.ok()) return std::nullopt;
  return paths;
}

}  // namespace qardex::setup
