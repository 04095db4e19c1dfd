// Module-wide state of the in-process server: its instance handle and the
// lock count of live objects and factory locks.
#pragma once

#include <windows.h>

#include <string>

namespace qardex::com {

// Set once by DllMain when the library is loaded.
void SetModuleInstance(HINSTANCE instance);
HINSTANCE ModuleInstance();
// Full path of the library file.
std::wstring ModulePath();

void LockModule();
void UnlockModule();
long ModuleLockCount();

}  // namespace qardex::com
