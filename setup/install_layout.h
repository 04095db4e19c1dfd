// Names and paths of the local service edition: the service, the files in the installation
// folder, the commands that start the outside tools, the install log and the hosts files.
// Paths are narrow strings held in MAX_PATH buffers; a text that does not fit is reported,
// never cut.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qardex_constants.h"

namespace qardex::setup {

// Longest path or command text: a 260-byte buffer with its terminator.
inline constexpr std::size_t kPathLimit = 259;

inline constexpr const auto& kServiceName = build::kServiceName;
inline constexpr char kServiceProgram[] = "mQARDEXService.exe";
inline constexpr char kKeyMintProgram[] = "cert\\KeyMint.exe";
inline constexpr char kTrustScript[] = "FoxTrust.cmd";
inline constexpr char kUntrustScript[] = "FoxUntrust.cmd";
// The root alone, where FoxTrust.cmd lets Firefox install it from (the installer's copy).
inline constexpr char kBrowserRootCopy[] = "certpem\\ZELRootCA.pem";
// The root of a set the service renewed, named by its serial number (hex digits): Firefox
// installs no certificate again from a path it has installed one from before.
std::string BrowserRootCopyFor(std::string_view rootSerial);
// The name alone, without the folder, as FoxTrust.cmd takes it.
std::string BrowserRootNameFor(std::string_view rootSerial);
// A serial number's digits for those names: upper-case hex, two per byte of its big-endian
// magnitude, leading zero bytes left out (the way OpenSSL writes a serial). Empty for zero.
std::string SerialDigits(const std::vector<unsigned char>& bigEndian);
// Whether `name` is BrowserRootNameFor of some serial.
bool IsBrowserRootName(std::string_view name);
inline constexpr char kInstallLogName[] = "mQARDEX_Install.log";
inline constexpr char kHostsBackupSuffix[] = ".mQARDEX.Install.backup";
// The new hosts content is written here, beside the hosts file, then put in its place.
inline constexpr char kHostsStagingSuffix[] = ".mQARDEX.Install.new";

// A path or command that would not fit its buffer.
struct Overflow {
  const char* kind = "Path";  // "Path" or "Command"
  std::string text;
};

// The console line that reports it.
std::string OverflowLine(const Overflow& overflow);

struct CertificateCopy {
  std::string source;
  std::string destination;
};

// KeyMint's files in cert\ and the copies the installer makes of them, in the order made.
inline constexpr const char* kCertificateCopyNames[4][2] = {
    {"cert\\ZELServerCert.crt", "ZELServerCert.crt"},
    {"cert\\ZELServerCert.key", "ZELServerCert.key"},
    {"cert\\ZELRootCA.pem", kBrowserRootCopy},
    {"cert\\ZELServerCert.pem", "certpem\\ZELServerCert.pem"},
};

// The copy whose destination is imported into the root store.
inline constexpr std::size_t kRootCertificateCopy = 0;
// The copy of the server's private key: the service reads the destination, and the source in
// the cert folder is deleted once copied.
inline constexpr std::size_t kServerKeyCopy = 1;

// Everything the installer takes from or puts into the installation folder.
struct InstallLayout {
  std::string serviceProgram;             // <folder>\mQARDEXService.exe
  std::string keyMintCommand;             // call "<folder>\cert\KeyMint.exe"
  std::string trustCommand;               // call "<folder>\FoxTrust.cmd" (one blank at the end)
  std::array<CertificateCopy, 4> copies;  // in the order they are made
  std::string rootCertificate;  // <folder>\ZELServerCert.crt, imported into the root store
};

struct HostsPaths {
  std::string hosts;    // <system folder>\drivers\etc\hosts
  std::string backup;   // the hosts path + ".mQARDEX.Install.backup"
  std::string staging;  // the hosts path + ".mQARDEX.Install.new"
};

// `folder` is the installation folder without a trailing backslash.
std::optional<InstallLayout> BuildInstallLayout(std::string_view folder, Overflow* overflow);

// The command that runs a script of the installation folder: call "<folder>\<script>" and one
// blank.
std::optional<std::string> ScriptCommand(std::string_view folder, std::string_view script,
                                         Overflow* overflow);

// `tempFolder` as GetTempPathA reports it, with its trailing backslash.
std::optional<std::string> InstallLogPath(std::string_view tempFolder, Overflow* overflow);

// `systemFolder` as GetSystemDirectory reports it, without a trailing backslash.
std::optional<HostsPaths> BuildHostsPaths(std::string_view systemFolder, Overflow* overflow);

}  // namespace qardex::setup
