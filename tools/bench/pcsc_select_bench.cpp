// qardex-pcsc-bench: times the reader scan that the card control performs, natively against
// pcsc-lite, as a baseline for the same scan under Wine.
//
//   qardex-pcsc-bench [ITERATIONS]     (default 100)
//
// Each iteration: establish a system context, size and read the reader list, then for each
// reader connect (shared, T=1), send SELECT of the HC application, disconnect leaving the card,
// and stop at the first reader that answers 90 00; finally release the context.
// Prints "mean_us=<microseconds per iteration> iterations=N found=F"; exits 0 when every
// iteration found the card, 1 otherwise, 2 on a usage error. With ITERATIONS=1 it doubles as a
// readiness probe for test scripts.
#include <winscard.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const unsigned char kSelectHc[] = {0x00, 0xA4, 0x04, 0x00, 0x10, 0xD1, 0x58, 0x00, 0x00, 0x01, 0x00,
                                   0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x11, 0x00};

class Context {
 public:
  Context() {
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &handle_) != SCARD_S_SUCCESS)
      handle_ = 0;
  }
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  ~Context() {
    if (handle_) SCardReleaseContext(handle_);
  }
  SCARDCONTEXT get() const { return handle_; }

 private:
  SCARDCONTEXT handle_ = 0;
};

class Connection {
 public:
  Connection(SCARDCONTEXT context, const char* reader) {
    DWORD protocol = 0;
    connected_ = SCardConnect(context, reader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &handle_,
                              &protocol) == SCARD_S_SUCCESS;
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    if (connected_) SCardDisconnect(handle_, SCARD_LEAVE_CARD);
  }
  bool connected() const { return connected_; }
  SCARDHANDLE get() const { return handle_; }

 private:
  SCARDHANDLE handle_ = 0;
  bool connected_ = false;
};

std::vector<std::string> ListReaders(SCARDCONTEXT context) {
  DWORD length = 0;
  if (SCardListReaders(context, nullptr, nullptr, &length) != SCARD_S_SUCCESS || length == 0)
    return {};
  std::vector<char> list(length, '\0');
  if (SCardListReaders(context, nullptr, list.data(), &length) != SCARD_S_SUCCESS) return {};
  std::vector<std::string> names;
  for (size_t start = 0; start < length && list[start] != '\0';) {
    std::string name(&list[start]);
    start += name.size() + 1;
    names.push_back(std::move(name));
  }
  return names;
}

bool SelectAnswered(SCARDHANDLE card) {
  unsigned char response[256];
  DWORD length = sizeof(response);
  if (SCardTransmit(card, SCARD_PCI_T1, kSelectHc, sizeof(kSelectHc), nullptr, response, &length) !=
      SCARD_S_SUCCESS)
    return false;
  return length >= 2 && response[length - 2] == 0x90 && response[length - 1] == 0x00;
}

bool ScanOnce() {
  Context context;
  if (!context.get()) return false;
  for (const std::string& reader : ListReaders(context.get())) {
    Connection connection(context.get(), reader.c_str());
    if (connection.connected() && SelectAnswered(connection.get())) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  long iterations = 100;
  if (argc > 2) return 2;
  if (argc == 2) {
    char* end = nullptr;
    iterations = std::strtol(argv[1], &end, 10);
    if (*end != '\0' || iterations < 1 || iterations > 1000000) {
      std::fprintf(stderr, "usage: qardex-pcsc-bench [ITERATIONS 1..1000000]\n");
      return 2;
    }
  }
  long found = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < iterations; ++i) found += ScanOnce() ? 1 : 0;
  const std::chrono::duration<double, std::micro> elapsed =
      std::chrono::steady_clock::now() - start;
  std::printf("mean_us=%.1f iterations=%ld found=%ld\n", elapsed.count() / iterations, iterations,
              found);
  return found == iterations ? 0 : 1;
}
