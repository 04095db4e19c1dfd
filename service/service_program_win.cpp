#include "service/service_program.h"

#include <winsock2.h>

#include <openssl/ssl.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>

#include "keymint/certificate_set.h"
#include "engine/system_platform.h"
#include "keymint/program_folder.h"
#include "qardex_constants.h"
#include "service/crypto_random.h"
#include "service/https_server_win.h"
#include "service/session_table.h"
#include "service/engine_binding.h"

namespace qardex::service {

namespace {

// Certificate and key files are a few kilobytes; anything near this is not one.
constexpr std::uintmax_t kLargestCredentialFile = 256 * 1024;

void Complain(const std::string& line) {
  std::fprintf(stderr, "mQARDEXService: %s\n", line.c_str());
  std::fflush(stderr);
}

std::optional<std::string> ReadCredentialFile(const std::filesystem::path& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) {
    Complain("cannot read " + path.u8string() + ": " + error.message());
    return std::nullopt;
  }
  if (size > kLargestCredentialFile) {
    Complain(path.u8string() + " is too large to be a certificate or key file");
    return std::nullopt;
  }
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  if (!file) {
    Complain("cannot read " + path.u8string());
    return std::nullopt;
  }
  return text.str();
}

struct WinsockSession {
  bool started = false;
  WinsockSession() {
    WSADATA data;
    started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (started) WSACleanup();
  }
};

// What the connection threads work with, owned jointly by them and the service: a thread still
// inside a call when the service stops keeps it alive until the call ends.
struct Serving {
  explicit Serving(TlsContext context)
      : tls(std::move(context)),
        provider(engine::SystemPlatform()),
        sessions([] { return std::chrono::steady_clock::now(); }, CryptoRandom),
        router(provider, sessions) {}
  TlsContext tls;
  EngineProvider provider;
  SessionTable sessions;
  Router router;
};

}  // namespace

int RunService(const std::atomic<bool>& stop, const std::function<void()>& ready) {
  try {
    const std::filesystem::path folder = keymint::ProgramFolder();
    const auto certificates = ReadCredentialFile(folder / keymint::kServerCertificateFile);
    const auto key = ReadCredentialFile(folder / keymint::kServerKeyFile);
    if (!certificates || !key) return kExitCertificateFiles;
    OPENSSL_init_ssl(0, nullptr);
    TlsContext tls = MakeTlsContext(*certificates, *key);
    if (!tls.context) {
      Complain(tls.error);
      return kExitCertificateFiles;
    }

    WinsockSession winsock;
    if (!winsock.started) {
      Complain("cannot start Windows Sockets");
      return kExitStartup;
    }
    auto serving = std::make_shared<Serving>(std::move(tls));
    HttpsServer server(serving->tls.context.get(), serving->router, {}, serving);
    std::string error;
    if (!server.Listen(build::kLocalServicePort, error)) {
      Complain(error);
      return kExitListen;
    }
    ready();
    server.Serve(stop);
    return kExitOk;
  } catch (const std::exception& problem) {
    Complain(problem.what());
  } catch (...) {
    Complain("unexpected failure");
  }
  return kExitStartup;
}

}  // namespace qardex::service
