// What the registry needs to know about the type library, read from the interface definition
// the type library is compiled from: the library's identity and the interfaces RegisterTypeLib
// records (dual or automation interfaces that the library names).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qardex::packaging {

struct InterfaceFacts {
  std::string id;  // "{...}" in upper case
  std::string name;
};

struct TypeLibraryFacts {
  std::string id;  // "{...}" in upper case
  std::string name;
  std::string help;  // helpstring, "" when the library has none
  unsigned major = 0, minor = 0;
  unsigned locale = 0;  // lcid(...), 0 when not given
  unsigned flags = 0;   // restricted 1, control 2, hidden 4
  std::vector<InterfaceFacts> interfaces;
};

// Reads the definition; nullopt (and a reason in *error) when it holds no library with a uuid
// and a version, or a construct this reader does not understand (dispinterface).
std::optional<TypeLibraryFacts> ReadTypeLibraryFacts(std::string_view idl, std::string* error);

}  // namespace qardex::packaging
