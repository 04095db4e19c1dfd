// Module-wide state of the in-process server: its instance handle and the
// lock count of live objects and factory locks.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace qardex::com {

// Set once by DllMain when the library is loaded.
void SetModuleInstance(HINSTANCE instance);
HINSTANCE ModuleInstance();
// Full path of the library file.
std::wstring ModulePath();

// The type information of ItwQARDEX, loaded from the library's own type
// library on first use and shared by every control of the process. On
// success `info` receives a reference of its own.
HRESULT ControlTypeInfo(ITypeInfo** info);
// Drops the shared type information (the library is being unloaded).
void ReleaseControlTypeInfo();
// Forgets it without a release, for the end of the process.
void AbandonControlTypeInfo();

void LockModule();
void UnlockModule();
long ModuleLockCount();

}  // namespace qardex::com
