// The class object of twQARDEX.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace qardex::server {

// The one cached factory, made on first use.
IClassFactory& ControlClassFactory();

}  // namespace qardex::server
