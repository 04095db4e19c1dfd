// ISO 7816-4 status words the virtual card answers with.
#pragma once

#include "testbed/vcard/bytes.h"

namespace vcard::sw {

inline const Bytes kOk = {0x90, 0x00};
inline const Bytes kWrongLength = {0x67, 0x00};
inline const Bytes kSecurityNotSatisfied = {0x69, 0x82};
inline const Bytes kConditionsNotSatisfied = {0x69, 0x85};
inline const Bytes kWrongParameters = {0x6A, 0x86};
inline const Bytes kFileNotFound = {0x6A, 0x82};
inline const Bytes kDataNotFound = {0x6A, 0x88};
inline const Bytes kUnknownInstruction = {0x6D, 0x00};
inline const Bytes kUnknownClass = {0x6E, 0x00};

}  // namespace vcard::sw
