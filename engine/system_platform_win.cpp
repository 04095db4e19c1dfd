#include <winsock2.h>
#include <windows.h>
#include <bcrypt.h>

#include <limits>

#include "cloud/crypto_library.h"
#include "cloud/openssl_session_keys.h"
#include "cloud/winsock_connector.h"
#include "common/policy_values.h"
#include "common/win_handles.h"
#include "engine/system_platform.h"

namespace qardex::engine {

namespace {

crypto::CalendarDate DateOf(const SYSTEMTIME& time) {
  return crypto::CalendarDate{time.wYear, time.wMonth, time.wDay};
}

// A pin list longer than this is not an administrator's list: it counts as one bad entry.
constexpr DWORD kPinListByteLimit = 64 * 1024;

// The entries of a REG_MULTI_SZ value under the policy key; none when the value is absent.
std::vector<std::string> ReadPolicyList(const char* valueName) {
  DWORD size = 0;
  LSTATUS status = RegGetValueA(HKEY_LOCAL_MACHINE, common::kPolicyKeyPath, valueName,
                                RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) return {};
  // Present but unreadable: a list that matches nothing, never no list.
  const std::vector<std::string> unreadable = {"unreadable"};
  if (status != ERROR_SUCCESS || size > kPinListByteLimit) return unreadable;
  std::vector<char> buffer(size + 2, '\0');
  status = RegGetValueA(HKEY_LOCAL_MACHINE, common::kPolicyKeyPath, valueName, RRF_RT_REG_MULTI_SZ,
                        nullptr, buffer.data(), &size);
  if (status != ERROR_SUCCESS) return unreadable;
  std::vector<std::string> entries;
  for (std::size_t at = 0; at < size && buffer[at] != '\0';) {
    const std::string entry(buffer.data() + at);
    at += entry.size() + 1;
    entries.push_back(entry);
  }
  return entries;
}

class WindowsPlatform final : public Platform {
 public:
  explicit WindowsPlatform(cloud::KeyPairSource& clientKeys) : clientKeys_(clientKeys) {}

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
    return std::make_unique<cloud::OpenSslSessionKeys>(clientKeys_);
  }
  std::vector<std::string> ServerKeyPins() override {
    return ReadPolicyList(common::kServerKeyPinsValue);
  }
  bool SystemRandom(std::uint8_t* bytes, std::size_t count) override {
    if (count > std::numeric_limits<ULONG>::max()) return false;
    return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(count),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG));
  }

  std::string SystemMessage(std::int32_t code) override {
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<char*>(&buffer), 0, nullptr);
    const common::LocalMemory<char> owned(buffer);
    return buffer != nullptr ? std::string(buffer, length) : std::string();
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
  cloud::KeyPairSource& clientKeys_;
  cloud::WinsockConnector connector_;
};

}  // namespace

Platform& SystemPlatform() {
  static WindowsPlatform platform(cloud::KeysMadeInTheCall());
  return platform;
}

std::unique_ptr<Platform> SystemPlatformWithKeys(cloud::KeyPairSource& clientKeys) {
  return std::make_unique<WindowsPlatform>(clientKeys);
}

}  // namespace qardex::engine
