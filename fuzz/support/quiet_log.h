// Keeps the daily log of a fuzzing run out of the way: its entries are still
// formatted and written, but into /dev/null, so a long run fills no disk.
#pragma once

namespace qardex::fuzzing {

// Points the log's temporary folder at a private folder whose log file for
// today is a link to /dev/null. Every harness does this once at start (the
// support library's LLVMFuzzerInitialize).
void DiscardErrorLog();

}  // namespace qardex::fuzzing
