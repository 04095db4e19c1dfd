// The registry rows of an installer package for the control: exactly what the DLL's own
// registration writes (DllRegisterServer: the registration script, the type library, the safety
// categories), as rows of the package's Registry table instead of calls at run time.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "packaging/msi/idl_facts.h"

namespace qardex::packaging {

// One value (or, with an empty-key row, one key that holds nothing) under HKEY_CLASSES_ROOT.
struct RegistryRow {
  std::string key;    // path below HKEY_CLASSES_ROOT, "\" between keys
  std::string name;   // "" for the key's default value
  std::string value;  // the data as the registry holds it (text; DWORDs as decimal text)
  bool dword = false;
  bool emptyKey = false;  // a key created without values, removed with its package
};

struct RowSet {
  std::vector<RegistryRow> rows;
  std::string error;  // set when the rows could not be made
};

// Where the DLL lies on the target machine, as the package names it (e.g. "[#QARDEX.dll]"
// for the installed file and "[ProgramFiles64Folder]QARDEX" for its folder).
struct ModulePlace {
  std::string file;
  std::string folder;
};

// The rows of the registration script (after %MODULE% is set to the module's file), made by
// running the script's own registration walk against a recording registry.
RowSet ScriptRows(std::string_view scriptText, const ModulePlace& module);

// The rows RegisterTypeLib writes for the library: the library's key with its path for the
// given platform subkey ("win64" or "win32") and help folder, and an Interface key for every
// dual or automation interface of the library.
std::vector<RegistryRow> TypeLibraryRows(const TypeLibraryFacts& library, const ModulePlace& module,
                                         std::string_view platformKey);

// The rows of the safety categories: each category's description (shared with every other
// control of the category), and each recorded under the class as implemented (the class's own).
struct CategoryRowSet {
  std::vector<RegistryRow> descriptions;
  std::vector<RegistryRow> implemented;
};
CategoryRowSet CategoryRows(std::string_view classId);

// A description belongs to the system once it is there: the package writes (and later removes)
// the descriptions only where none is registered or the one registered is the package's own.
// WixCategorySearches gives one Property per description, PROPERTY1, PROPERTY2..., set by a
// registry search to the text registered; CategoryCondition the component condition over them.
std::string WixCategorySearches(const std::vector<RegistryRow>& descriptions,
                                const std::string& property);
// nullopt when a description holds a '"', which a condition cannot quote, or a "'", which the
// packaging script's SQL would have to.
std::optional<std::string> CategoryCondition(const std::vector<RegistryRow>& descriptions,
                                             const std::string& property);

// The rows as WiX RegistryValue elements (Root HKCR), one per line, texts escaped for the
// package's formatted fields and for XML. The values of `row.value` that name the module
// (ModulePlace) are passed through unescaped.
std::string WixElements(const std::vector<RegistryRow>& rows, const ModulePlace& module);

}  // namespace qardex::packaging
