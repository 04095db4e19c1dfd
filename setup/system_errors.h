// The few Windows system error numbers that the installer and the uninstaller act on. Kept
// free of Windows headers so the sequences that look at them build and run natively; the
// Windows bindings check them against the SDK's names.
#pragma once

namespace qardex::setup {

// A system error number as GetLastError reports it; 0 means success.
using SystemError = int;

inline constexpr SystemError kNoError = 0;
inline constexpr SystemError kErrorNotEnoughMemory = 8;         // ERROR_NOT_ENOUGH_MEMORY
inline constexpr SystemError kErrorServiceDoesNotExist = 1060;  // ERROR_SERVICE_DOES_NOT_EXIST
inline constexpr SystemError kErrorServiceMarkedForDelete =
    1072;  // ERROR_SERVICE_MARKED_FOR_DELETE

}  // namespace qardex::setup
