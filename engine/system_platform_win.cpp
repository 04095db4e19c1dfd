#include <winsock2.h>
#include <windows.h>

#include "cloud/crypto_library.h"
#include "cloud/openssl_session_keys.h"
#include "cloud/winsock_connector.h"
#include "engine/system_platform.h"

namespace qardex::engine {

namespace {

crypto::CalendarDate DateOf(const SYSTEMTIME& time) {
  return crypto::CalendarDate{time.wYear, time.wMonth, time.wDay};
}

class WindowsPlatform final : public Platform {
 public:
  card::PcscApi& Pcsc() override { return card::SystemPcsc(); }

  // A failed start is not followed by a cleanup: that would take Winsock away from the host.
  int StartNetwork() override {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data);
  }
  void StopNetwork() override { WSACleanup(); }
  cloud::ServerConnector& Connector() override { return connector_; }

  void BeginCryptoUse() override { cloud::EnsureCryptoLibrary(); }
  void EndCryptoUse() override { cloud::ReleaseThreadCryptoState(); }
  std::unique_ptr<cloud::SessionKeys> NewSessionKeys() override {
    return std::make_unique<cloud::OpenSslSessionKeys>();
  }

  std::string SystemMessage(std::int32_t code) override {
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text;
    if (buffer != nullptr) {
      text.assign(buffer, length);
      LocalFree(buffer);
    }
    return text;
  }

  crypto::CalendarDate UtcDate() override {
    SYSTEMTIME utc{};
    GetSystemTime(&utc);
    return DateOf(utc);
  }
  crypto::CalendarDate LocalDate() override {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    return DateOf(local);
  }

 private:
  cloud::WinsockConnector connector_;
};

}  // namespace

Platform& SystemPlatform() {
  static WindowsPlatform platform;
  return platform;
}

}  // namespace qardex::engine
