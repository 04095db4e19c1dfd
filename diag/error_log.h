// The control's daily diagnostic log in the user's temporary-files folder.
#pragma once

#include <cstdarg>

#include "diag/error_log_format.h"

namespace qardex::diag {

// Appends one stamped entry to today's log. Never fails from the caller's
// point of view: an entry that cannot be written is dropped. Returns 0.
int AppendErrorLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The same with an explicit stamp (tests use it to cross midnight).
int AppendErrorLogAt(const LocalStamp& stamp, const char* format, va_list args);

// Reads the local clock (the stamp AppendErrorLog uses).
LocalStamp CurrentLocalStamp();

}  // namespace qardex::diag
