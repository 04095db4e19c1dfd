// A small registration-script language for the class's registry entries:
//
//   HKCR
//   {
//     NoRemove CLSID                       (never removed)
//     {
//       ForceRemove {guid} = s 'text'      (replaced whole, removed whole)
//       {
//         InprocServer32 = s '%MODULE%'
//         {
//           val ThreadingModel = s 'Apartment'
//         }
//       }
//     }
//   }
//
// Keys without a flag are created on registration and removed on
// unregistration once nothing else is left in them. `Delete` keys are only
// deleted (on registration). Braces stand alone, apart from key names such
// as {GUID}. Values are `s 'text'` or `d 'number'`; a quote
// inside a text is written twice.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qardex::registration {

enum class RootKey { ClassesRoot, LocalMachine, CurrentUser };
enum class KeyFlag { None, NoRemove, ForceRemove, Delete };

struct ScriptValue {
  enum class Type { String, Dword };
  std::string name;  // "" is the key's default value
  Type type = Type::String;
  std::string text;
  std::uint32_t number = 0;
};

struct ScriptKey {
  std::string name;
  KeyFlag flag = KeyFlag::None;
  std::vector<ScriptValue> values;  // the default value, if any, first
  std::vector<ScriptKey> subkeys;
};

struct ScriptRoot {
  RootKey root;
  std::vector<ScriptKey> keys;
};

struct RegistryScript {
  std::vector<ScriptRoot> roots;
};

// Replaces each %NAME% by its text, doubling quotes so the text stays one
// quoted string. An unknown %NAME% or a lone % is an error.
std::optional<std::string> ExpandScriptVariables(
    std::string_view text, const std::map<std::string, std::string>& variables, std::string* error);

std::optional<RegistryScript> ParseRegistryScript(std::string_view text, std::string* error);

// What the script needs from the registry; paths use "\" between keys.
// Every operation returns 0 or a system error code.
class RegistryEditor {
 public:
  virtual ~RegistryEditor() = default;
  virtual std::int32_t CreateKey(RootKey root, const std::string& path) = 0;
  virtual std::int32_t SetString(RootKey root, const std::string& path, const std::string& name,
                                 const std::string& text) = 0;
  virtual std::int32_t SetDword(RootKey root, const std::string& path, const std::string& name,
                                std::uint32_t number) = 0;
  // Removes the key with everything under it; a missing key is success.
  virtual std::int32_t DeleteTree(RootKey root, const std::string& path) = 0;
  // A missing value is success.
  virtual std::int32_t DeleteValue(RootKey root, const std::string& path,
                                   const std::string& name) = 0;
  // True when the key exists and holds neither subkeys nor values.
  virtual bool IsEmptyKey(RootKey root, const std::string& path) = 0;
};

// Registration stops at the first failing step and returns its code.
std::int32_t ApplyRegistration(const RegistryScript& script, RegistryEditor& editor);
// Unregistration goes on past failures and returns the first code seen.
std::int32_t ApplyUnregistration(const RegistryScript& script, RegistryEditor& editor);

}  // namespace qardex::registration
