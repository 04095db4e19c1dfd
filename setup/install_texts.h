// Every console line and install-log entry of the installer and the uninstaller's shared
// service lines, in one place. Console lines end with "\n" (the console's text mode writes it
// as CR LF); log entries are written as they are. The installer speaks English only: its
// lines name the failing call and the system error number, which is all a support desk needs,
// and Big5 text would show as noise on consoles of other code pages. (The uninstaller's own
// Chinese messages are in remove/removal_texts.h.)
#pragma once

#include <functional>
#include <string>

namespace qardex::setup {

// Where console lines or log entries go.
using LineSink = std::function<void(const std::string&)>;

// printf into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Local calendar time, as GetLocalTime reports it.
struct LocalStamp {
  int year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

namespace text {

// --- Install log: start and end share the line with the entries around them. ---------------
std::string LogStart(const LocalStamp& stamp);
std::string LogEnd(const LocalStamp& stamp);
inline constexpr char kLogKeyMint[] = "KeyMint %d \n";
inline constexpr char kLogFoxTrust[] = "FoxTrust %d \n";
inline constexpr char kLogFoxUntrust[] = "FoxUntrust %d \n";
// On the console and in the log, with --no-browser-policies.
inline constexpr char kPoliciesLeft[] =
    "Browser policies left to group policy: FoxTrust.cmd not run.\n";
inline constexpr char kSetupUsage[] = "usage: cardsetup [--no-browser-policies]\n";
// On the console and in the new log, when the log's place held something not safely ours.
inline constexpr char kLogReplaced[] = "install log: %s\n";

// --- Hosts file ------------------------------------------------------------------------------
inline constexpr char kReadFileSize[] = "read file size %d\n";
inline constexpr char kHostsOpenFailed[] = "Hosts File Open failed, error: %d.\n";
inline constexpr char kMemoryFailed[] = "memory get failed, error: %d.\n";
inline constexpr char kHostsReadFailed[] = "Hosts File Read failed, error: %d.\n";
inline constexpr char kHostsBackupFailed[] = "Hosts File Backup failed, error: %d.\n";
inline constexpr char kHostsWriteFailed[] = "Hosts File Write failed, error: %d.\n";

// --- Service manager and service (console; the failures also go to the install log) ---------
inline constexpr char kManagerFailed[] = "OpenSCManager() failed, error: %d.\n";
inline constexpr char kManagerOk[] = "OpenSCManager() looks OK.\n";
inline constexpr char kOpenFailed[] = "OpenService failed (%d)\n";
inline constexpr char kDeleted[] = "Service deleted successfully\n";
inline constexpr char kDeleteFailed[] = "DeleteService failed (%d)\n";
inline constexpr char kCreateFailed[] = "CreateService() %s failed, error: %d\n";
inline constexpr char kCreateOk[] = "CreateService() for %s looks OK.\n";
inline constexpr char kCloseOk[] = "CloseServiceHandle() is OK.\n";
inline constexpr char kCloseFailed[] = "CloseServiceHandle() failed, Error: %d.\n";
inline constexpr char kReopenFailed[] = "OpenService %s failed (%d)\n";
inline constexpr char kStartFailed[] = "StartService %s failed (%d)\n";
inline constexpr char kStartPending[] = "Service start pending...\n";
inline constexpr char kFailureActionsFailed[] =
    "ChangeServiceConfig2() failure actions for %s failed, error: %d.\n";
// After the start: the service must run and hold its own port.
inline constexpr char kStatusFailed[] = "QueryServiceStatusEx() for %s failed.\n";
inline constexpr char kListenersUnknown[] = "GetExtendedTcpTable() failed, error: %d.\n";
// %s:%u the address and port, %s who holds it (one of the two below), %s the service.
inline constexpr char kPortHeld[] = "%s:%u is held by %s, not by the service %s: stopped.\n";
inline constexpr char kProgramAndProcess[] = "%s (process %u)";
inline constexpr char kProcessOnly[] = "process %u";
inline constexpr char kNotListening[] =
    "Service %s (process %u) runs but does not listen on %s:%u: stopped.\n";
inline constexpr char kStoppedWhileStarting[] =
    "Service %s stopped while starting, exit code %u (service-specific %u): stopped.\n";
inline constexpr char kNotRunningInTime[] = "Service %s did not run within %d s: stopped.\n";
// The service's event source in the Application log; a failure leaves its events without texts.
inline constexpr char kEventSourceFailed[] = "Event source %s not registered, error: %d.\n";
inline constexpr char kEventSourceNotRemoved[] = "Event source %s not removed, error: %d.\n";

// --- Root store ------------------------------------------------------------------------------
inline constexpr char kNoFreshCertificate[] =
    "KeyMint wrote no ZELServerCert.crt in this run: nothing imported into the root store.\n";
// Console and install log alike; the host name and the address.
inline constexpr char kRootRefused[] =
    "ZELServerCert.crt is not a CA certificate whose critical name constraints permit only %s "
    "and %s: nothing imported into the root store.\n";

// --- A folder or file of the installation that others can change (console and install log) ---
// %s the path, %s who: an account name, or its SID when it has none.
inline constexpr char kWritableByOthers[] =
    "%s can be written by %s, not only by SYSTEM, Administrators and TrustedInstaller: stopped.\n";
inline constexpr char kOwnerSuffix[] = " (its owner)";
inline constexpr char kEveryoneNoAccessList[] = "Everyone (no access list)";
inline constexpr char kAccessUnknown[] = "Access rights of %s unknown, error: %d: stopped.\n";

// --- The tool's unprotected key file (console and install log) --------------------------------
// %s its path: it stays readable as long as it is there.
inline constexpr char kKeyNotDeleted[] = "%s cannot be deleted, error: %d: stopped.\n";

// --- Set-up faults that end a run before anything is changed ---------------------------------
inline constexpr char kTooLong[] = "%s longer than %d bytes: %s\n";
inline constexpr char kFolderUnknown[] = "Installation folder unknown, error: %d.\n";
inline constexpr char kFolderNotNarrow[] =
    "Installation folder name does not fit the system code page.\n";
inline constexpr char kSystemFolderUnknown[] = "System folder unknown, error: %d.\n";
inline constexpr char kUnexpected[] = "Unexpected failure: %s.\n";

}  // namespace text
}  // namespace qardex::setup
