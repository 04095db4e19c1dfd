// Keeps the daily log of a fuzzing run out of the way: its entries are still
// formatted and written, but into /dev/null, so a long run fills no disk.
#pragma once

namespace qardex::fuzzing {

// Points the log's temporary folder at a private folder whose log file for
// today is a link to /dev/null. Call once, from LLVMFuzzerInitialize.
void DiscardErrorLog();

}  // namespace qardex::fuzzing
