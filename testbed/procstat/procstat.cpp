// procstat.exe: reports the handle count and private bytes of the process that started it, so
// that a script host can watch its own resource use while it drives the control, or of the
// process running IMAGE (e.g. the local service, watched from a scenario file).
//
//   procstat.exe [--image IMAGE] [FILE]
//
// Prints "handles=<count> private=<bytes>" and, when FILE is given, also appends that line
// (CRLF-terminated) to FILE. Scripts under Wine start it with WScript.Shell's Run and read FILE:
// Wine's WScript.Shell.Exec fails, so the child's standard output cannot be read there.
// Exit status 0 on success, 1 when the process cannot be found or queried, 2 on a usage error or
// when FILE cannot be written.
#include <cstdio>
#include <cstring>

#include "process_usage.h"

int main(int argc, char** argv) {
  const bool byImage = argc >= 3 && std::strcmp(argv[1], "--image") == 0;
  if (argc > (byImage ? 4 : 2)) {
    std::fprintf(stderr, "usage: procstat.exe [--image IMAGE] [FILE]\n");
    return 2;
  }
  const char* file_name = argc == (byImage ? 4 : 2) ? argv[argc - 1] : nullptr;
  const DWORD process = byImage ? ProcessIdOfImage(argv[2]) : ParentProcessId();
  ProcessUsage usage;
  if (process == 0 || !QueryProcessUsage(process, usage)) {
    std::fprintf(stderr, "procstat: cannot query the process (error %lu)\n", GetLastError());
    return 1;
  }
  char line[80];
  std::snprintf(line, sizeof(line), "handles=%llu private=%llu",
                static_cast<unsigned long long>(usage.handles),
                static_cast<unsigned long long>(usage.private_bytes));
  std::printf("%s\n", line);
  if (file_name != nullptr) {
    std::FILE* file = std::fopen(file_name, "ab");
    if (!file) return 2;
    const bool written = std::fprintf(file, "%s\r\n", line) > 0;
    if (std::fclose(file) != 0 || !written) return 2;
  }
  return 0;
}
