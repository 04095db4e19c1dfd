#include "packaging/msi/registry_rows.h"

#include <cstdio>
#include <map>

#include "packaging/msi/wix_text.h"
#include "registration/registry_script.h"
#include "registration/safety_categories.h"

namespace qardex::packaging {

namespace {

using registration::RootKey;

// The universal marshaler, which RegisterTypeLib names for every automation interface.
constexpr const char* kAutomationProxy = "{00020424-0000-0000-C000-000000000046}";

// A registry that only records what a registration writes. Registration on a clean machine
// starts from nothing, so deleting (a key replaced whole) removes nothing that a row describes.
class RecordingRegistry : public registration::RegistryEditor {
 public:
  std::int32_t CreateKey(RootKey root, const std::string& path) override {
    if (root != RootKey::ClassesRoot) return NotClasses();
    if (!keys_.count(path)) order_.push_back(path);
    keys_[path];
    return 0;
  }
  std::int32_t SetString(RootKey root, const std::string& path, const std::string& name,
                         const std::string& text) override {
    if (root != RootKey::ClassesRoot) return NotClasses();
    CreateKey(root, path);
    keys_[path].push_back({path, name, text, false, false});
    return 0;
  }
  std::int32_t SetDword(RootKey root, const std::string& path, const std::string& name,
                        std::uint32_t number) override {
    if (root != RootKey::ClassesRoot) return NotClasses();
    CreateKey(root, path);
    keys_[path].push_back({path, name, std::to_string(number), true, false});
    return 0;
  }
  std::int32_t DeleteTree(RootKey, const std::string&) override { return 0; }
  std::int32_t DeleteValue(RootKey, const std::string&, const std::string&) override { return 0; }
  bool IsEmptyKey(RootKey, const std::string&) override { return false; }

  // Every value in the order written; a key that got neither a value nor a subkey as a row of
  // its own.
  std::vector<RegistryRow> Rows() const {
    std::vector<RegistryRow> rows;
    for (const std::string& path : order_) {
      const std::vector<RegistryRow>& values = keys_.at(path);
      rows.insert(rows.end(), values.begin(), values.end());
      if (values.empty() && !HasSubkey(path)) rows.push_back({path, "", "", false, true});
    }
    return rows;
  }

  bool outsideClasses = false;

 private:
  std::int32_t NotClasses() {
    outsideClasses = true;
    return 87;  // ERROR_INVALID_PARAMETER: the package writes classes only
  }

  bool HasSubkey(const std::string& path) const {
    const std::string prefix = path + "\\";
    for (const std::string& other : order_) {
      if (other.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
  }

  std::map<std::string, std::vector<RegistryRow>> keys_;
  std::vector<std::string> order_;
};

std::string Hex(unsigned number) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", number);
  return text;
}

// A value text: the module's own place stays a reference the installer resolves; everything
// else is literal.
std::string ValueText(const std::string& value, const ModulePlace& module) {
  std::size_t first = std::string::npos;
  const std::string* found = nullptr;
  for (const std::string* place : {&module.file, &module.folder}) {
    const std::size_t at = place->empty() ? std::string::npos : value.find(*place);
    if (at < first) {
      first = at;
      found = place;
    }
  }
  if (!found) return FormattedLiteral(value);
  return FormattedLiteral(value.substr(0, first)) + *found +
         ValueText(value.substr(first + found->size()), module);
}

// A text value: one that starts with '#' would be read as a number or binary data.
std::string StringValue(const std::string& value, const ModulePlace& module) {
  const std::string text = ValueText(value, module);
  return !value.empty() && value[0] == '#' ? "#" + text : text;
}

}  // namespace

RowSet ScriptRows(std::string_view scriptText, const ModulePlace& module) {
  RowSet set;
  const std::optional<std::string> expanded =
      registration::ExpandScriptVariables(scriptText, {{"MODULE", module.file}}, &set.error);
  if (!expanded) return set;
  const std::optional<registration::RegistryScript> script =
      registration::ParseRegistryScript(*expanded, &set.error);
  if (!script) return set;
  RecordingRegistry registry;
  if (registration::ApplyRegistration(*script, registry) != 0 || registry.outsideClasses) {
    set.error = "the script writes outside HKEY_CLASSES_ROOT";
    return set;
  }
  set.rows = registry.Rows();
  return set;
}

std::vector<RegistryRow> TypeLibraryRows(const TypeLibraryFacts& library, const ModulePlace& module,
                                         std::string_view platformKey) {
  const std::string version = Hex(library.major) + "." + Hex(library.minor);
  const std::string key = "TypeLib\\" + library.id + "\\" + version;
  // RegisterTypeLib records the flags of the loaded library, which has a disk image (8).
  constexpr unsigned kHasDiskImage = 8;
  std::vector<RegistryRow> rows = {
      {key, "", library.help.empty() ? library.name : library.help, false, false},
      {key + "\\FLAGS", "", std::to_string(library.flags | kHasDiskImage), false, false},
      {key + "\\" + Hex(library.locale) + "\\" + std::string(platformKey), "", module.file, false,
       false},
      {key + "\\HELPDIR", "", module.folder, false, false},
  };
  for (const InterfaceFacts& face : library.interfaces) {
    const std::string base = "Interface\\" + face.id;
    rows.push_back({base, "", face.name, false, false});
    rows.push_back({base + "\\ProxyStubClsid", "", kAutomationProxy, false, false});
    rows.push_back({base + "\\ProxyStubClsid32", "", kAutomationProxy, false, false});
    rows.push_back({base + "\\TypeLib", "", library.id, false, false});
    rows.push_back({base + "\\TypeLib", "Version", version, false, false});
  }
  return rows;
}

CategoryRowSet CategoryRows(std::string_view classId) {
  CategoryRowSet set;
  for (const registration::SafetyCategory& category : registration::kSafetyCategories) {
    set.descriptions.push_back({std::string("Component Categories\\") + category.id,
                                Hex(registration::kCategoryLocale), category.description, false,
                                false});
    set.implemented.push_back(
        {"CLSID\\" + std::string(classId) + "\\Implemented Categories\\" + category.id, "", "",
         false, true});
  }
  return set;
}

std::string WixCategorySearches(const std::vector<RegistryRow>& descriptions,
                                const std::string& property) {
  std::string out;
  for (std::size_t i = 0; i < descriptions.size(); ++i) {
    const RegistryRow& row = descriptions[i];
    const std::string id = property + std::to_string(i + 1);
    out += "<Property Id=\"" + id + "\"><RegistrySearch Id=\"" + id +
           "Search\" Root=\"HKCR\" Key=\"" + XmlAttribute(FormattedLiteral(row.key)) +
           "\" Name=\"" + XmlAttribute(FormattedLiteral(row.name)) +
           "\" Type=\"raw\"/></Property>\n";
  }
  return out;
}

std::optional<std::string> CategoryCondition(const std::vector<RegistryRow>& descriptions,
                                             const std::string& property) {
  std::string out;
  for (std::size_t i = 0; i < descriptions.size(); ++i) {
    const std::string id = property + std::to_string(i + 1);
    // A raw search doubles a leading '#' of a text.
    const std::string& text = descriptions[i].value;
    if (text.find_first_of("\"'") != std::string::npos) return std::nullopt;
    if (!out.empty()) out += " AND ";
    out +=
        "(NOT " + id + " OR " + id + " = \"" + (text.rfind('#', 0) == 0 ? "#" : "") + text + "\")";
  }
  return out;
}

std::string WixElements(const std::vector<RegistryRow>& rows, const ModulePlace& module) {
  std::string out;
  for (const RegistryRow& row : rows) {
    out += "<RegistryValue Root=\"HKCR\" Key=\"" + XmlAttribute(FormattedLiteral(row.key)) + "\"";
    if (row.emptyKey) {
      // "*": the key is created with the package and removed with it.
      out += " Name=\"*\" Type=\"string\" Value=\"\"/>\n";
      continue;
    }
    if (!row.name.empty()) out += " Name=\"" + XmlAttribute(FormattedLiteral(row.name)) + "\"";
    out += row.dword ? " Type=\"integer\" Value=\"" + row.value + "\"/>\n"
                     : " Type=\"string\" Value=\"" + XmlAttribute(StringValue(row.value, module)) +
                           "\"/>\n";
  }
  return out;
}

}  // namespace qardex::packaging
