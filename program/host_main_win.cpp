// QARDEXHost.exe: the native messaging host the browser extension starts.
#include "host/host_program.h"

int wmain(int argc, wchar_t** argv) { return qardex::host::RunHost(argc, argv); }
