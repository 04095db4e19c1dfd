// The worker program: `mQARDEXService.exe --worker <pipe name>`, started by the service in a
// Windows session as that session's user, serving that user's pages' calls over the pipe.
#pragma once

namespace qardex::worker {

// Connects to the service's pipe (a name under \\.\pipe\), runs the worker loop on the system's
// engine until the pipe closes, and returns the process's exit code (WorkerExit). Never throws.
int RunWorker(const wchar_t* pipeName);

}  // namespace qardex::worker
