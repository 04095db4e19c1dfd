// qardex-pcsc-bench: the floor of the control's card methods. A minimal PC/SC client that makes
// the same calls and sends the same commands as GetHCConnectNo or GetBasic, and writes the same
// daily-log entries the same way (each one opened, appended and closed), so that the control's
// time per call can be set against it. The one source builds natively against pcsc-lite and for
// Windows (run under Wine through the winscard bridge).
//
//   qardex-pcsc-bench [ITERATIONS [scan|basic [log|nolog|locked-log]]]
//                                                   (default 100 scan nolog)
//
// scan: establish a system context, size and read the reader list, then for each reader connect
// (shared, T=1), send SELECT of the HC application, disconnect leaving the card, stop at the
// first reader that answers 90 00; release the context. basic: the same scan keeping the card
// and holding it in a transaction from the SELECT on, then the basic-data and card-data reads,
// then the end of the transaction, disconnect and release. With "log", the reader
// names and the success lines go to the daily log in the temporary-files folder; with
// "locked-log" (Windows) each entry also takes and releases the log's named lock, as the
// control's entries do so that two writers never tear a line.
// Prints "mean_us=<microseconds per iteration> iterations=N found=F"; exits 0 when every
// iteration found the card, 1 otherwise, 2 on a usage error. With ITERATIONS=1 it doubles as a
// readiness probe for test scripts.
#ifdef _WIN32
#include <windows.h>
#endif
#include <winscard.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

#ifdef _WIN32
#define ListReadersA SCardListReadersA
#define ConnectA SCardConnectA
#else
#define ListReadersA SCardListReaders
#define ConnectA SCardConnect
#endif

const unsigned char kSelectHc[] = {0x00, 0xA4, 0x04, 0x00, 0x10, 0xD1, 0x58, 0x00, 0x00, 0x01, 0x00,
                                   0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x11, 0x00};
const unsigned char kReadBasicData[] = {0x00, 0xCA, 0x11, 0x00, 0x02, 0x00, 0x00, 0x00};
const unsigned char kReadCardData[] = {0x00, 0xCA, 0x24, 0x00, 0x02, 0x00, 0x00, 0x00};

bool logEntries = false;
bool lockedLog = false;

// Held around one entry with "locked-log".
class EntryLock {
 public:
  EntryLock() {
#ifdef _WIN32
    static const HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\QARDEX.err.log");
    if (lockedLog && mutex != nullptr && WaitForSingleObject(mutex, 2000) == WAIT_OBJECT_0) {
      held_ = mutex;
    }
#endif
  }
  EntryLock(const EntryLock&) = delete;
  EntryLock& operator=(const EntryLock&) = delete;
  ~EntryLock() {
#ifdef _WIN32
    if (held_ != nullptr) ReleaseMutex(held_);
#endif
  }

 private:
  void* held_ = nullptr;
};

std::string TempFolder() {
#ifdef _WIN32
  char buffer[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(MAX_PATH, buffer);
  return length == 0 || length > MAX_PATH ? std::string() : std::string(buffer, length);
#else
  const char* folder = std::getenv("TMPDIR");
  std::string path = folder && *folder ? folder : "/tmp";
  return path.back() == '/' ? path : path + "/";
#endif
}

// One entry, written as the control writes it: " date time message: error text\n".
void LogEntry(const char* format, ...) {
  if (!logEntries) return;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char date[16], time[16];
  std::strftime(date, sizeof date, "%Y%m%d", &local);
  std::strftime(time, sizeof time, "%H%M%S", &local);
  const std::string path = TempFolder() + "QARDEX.err." + date + ".log";
  const EntryLock lock;
  std::FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) return;
  const int error = errno;
  char message[257] = {};
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  std::fprintf(file, " %s %s %s: %s\n", date, time, message, std::strerror(error));
  std::fclose(file);
}

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
    connected_ = ConnectA(context, reader, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &handle_,
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
  if (ListReadersA(context, nullptr, nullptr, &length) != SCARD_S_SUCCESS || length == 0) return {};
  std::vector<char> list(length, '\0');
  if (ListReadersA(context, nullptr, list.data(), &length) != SCARD_S_SUCCESS) return {};
  std::vector<std::string> names;
  for (size_t start = 0; start < length && list[start] != '\0';) {
    std::string name(&list[start]);
    start += name.size() + 1;
    names.push_back(std::move(name));
  }
  return names;
}

// Sends a command; true on 90 00 with the data part (as a text) in `data`.
bool Exchange(SCARDHANDLE card, const unsigned char* command, DWORD commandLength,
              std::string* data = nullptr) {
  unsigned char response[256] = {};
  DWORD length = sizeof(response);
  if (SCardTransmit(card, SCARD_PCI_T1, command, commandLength, nullptr, response, &length) !=
      SCARD_S_SUCCESS)
    return false;
  if (length < 2 || response[length - 2] != 0x90 || response[length - 1] != 0x00) return false;
  if (data) data->assign(reinterpret_cast<const char*>(response), length - 2);
  return true;
}

bool ReadRecords(SCARDHANDLE card) {
  std::string data;
  if (!Exchange(card, kReadBasicData, sizeof kReadBasicData, &data)) return false;
  LogEntry("basic [%s]\r\n", data.c_str());
  if (!Exchange(card, kReadCardData, sizeof kReadCardData, &data)) return false;
  LogEntry("hc card data [%s]\r\n", data.c_str());
  return true;
}

// Holds the card for a sequence of commands when asked.
class Transaction {
 public:
  Transaction(SCARDHANDLE card, bool wanted)
      : card_(card), held_(wanted && SCardBeginTransaction(card) == SCARD_S_SUCCESS) {}
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  ~Transaction() {
    if (held_) SCardEndTransaction(card_, SCARD_LEAVE_CARD);
  }

 private:
  SCARDHANDLE card_;
  bool held_;
};

bool Once(bool readRecords) {
  Context context;
  if (!context.get()) return false;
  for (const std::string& reader : ListReaders(context.get())) {
    LogEntry("%s\r\n", reader.c_str());
    Connection connection(context.get(), reader.c_str());
    if (!connection.connected()) continue;
    const Transaction transaction(connection.get(), readRecords);
    if (!Exchange(connection.get(), kSelectHc, sizeof kSelectHc)) continue;
    LogEntry("Select HC OK!\r\n");
    return !readRecords || ReadRecords(connection.get());
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  long iterations = 100;
  bool basic = false;
  bool usage = argc > 4;
  if (argc >= 2) {
    char* end = nullptr;
    iterations = std::strtol(argv[1], &end, 10);
    usage = usage || *end != '\0' || iterations < 1 || iterations > 1000000;
  }
  if (argc >= 3) {
    basic = std::strcmp(argv[2], "basic") == 0;
    usage = usage || (!basic && std::strcmp(argv[2], "scan") != 0);
  }
  if (argc >= 4) {
    lockedLog = std::strcmp(argv[3], "locked-log") == 0;
    logEntries = lockedLog || std::strcmp(argv[3], "log") == 0;
    usage = usage || (!logEntries && std::strcmp(argv[3], "nolog") != 0);
  }
  if (usage) {
    std::fprintf(stderr,
                 "usage: qardex-pcsc-bench [ITERATIONS [scan|basic [log|nolog|locked-log]]]\n");
    return 2;
  }
  long found = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < iterations; ++i) found += Once(basic) ? 1 : 0;
  const std::chrono::duration<double, std::micro> elapsed =
      std::chrono::steady_clock::now() - start;
  std::printf("mean_us=%.1f iterations=%ld found=%ld\n", elapsed.count() / iterations, iterations,
              found);
  return found == iterations ? 0 : 1;
}
