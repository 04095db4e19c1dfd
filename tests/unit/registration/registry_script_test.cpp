#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "registration/registry_script.h"

namespace qardex::registration {
namespace {

// An in-memory registry: key paths (root-prefixed) and their values.
class FakeRegistry : public RegistryEditor {
 public:
  std::set<std::string> keys;
  std::map<std::string, std::string> values;  // "path|name" -> text
  std::int32_t failCreateWith = 0;

  static std::string Prefix(RootKey root) {
    return root == RootKey::ClassesRoot    ? "HKCR\\"
           : root == RootKey::LocalMachine ? "HKLM\\"
                                           : "HKCU\\";
  }
  std::int32_t CreateKey(RootKey root, const std::string& path) override {
    if (failCreateWith) return failCreateWith;
    std::string full = Prefix(root);
    std::size_t start = 0;
    for (;;) {  // parents come into being too
      const std::size_t slash = path.find('\\', start);
      keys.insert(full + path.substr(0, slash));
      if (slash == std::string::npos) break;
      start = slash + 1;
    }
    return 0;
  }
  std::int32_t SetString(RootKey root, const std::string& path, const std::string& name,
                         const std::string& text) override {
    if (!keys.count(Prefix(root) + path)) return 2;
    values[Prefix(root) + path + "|" + name] = text;
    return 0;
  }
  std::int32_t SetDword(RootKey root, const std::string& path, const std::string& name,
                        std::uint32_t number) override {
    return SetString(root, path, name, "#" + std::to_string(number));
  }
  std::int32_t DeleteTree(RootKey root, const std::string& path) override {
    const std::string full = Prefix(root) + path;
    for (auto it = keys.begin(); it != keys.end();) {
      it = (*it == full || it->rfind(full + "\\", 0) == 0) ? keys.erase(it) : std::next(it);
    }
    for (auto it = values.begin(); it != values.end();) {
      it = (it->first.rfind(full + "|", 0) == 0 || it->first.rfind(full + "\\", 0) == 0)
               ? values.erase(it)
               : std::next(it);
    }
    return 0;
  }
  std::int32_t DeleteValue(RootKey root, const std::string& path,
                           const std::string& name) override {
    values.erase(Prefix(root) + path + "|" + name);
    return 0;
  }
  bool IsEmptyKey(RootKey root, const std::string& path) override {
    const std::string full = Prefix(root) + path;
    if (!keys.count(full)) return false;
    for (const auto& key : keys) {
      if (key.rfind(full + "\\", 0) == 0) return false;
    }
    for (const auto& value : values) {
      if (value.first.rfind(full + "|", 0) == 0) return false;
    }
    return true;
  }
  std::string Value(const std::string& pathAndName) const {
    const auto found = values.find(pathAndName);
    return found == values.end() ? "<none>" : found->second;
  }
};

constexpr char kGuid[] = "{F6885F44-A5ED-4F29-897A-52DFD31A5999}";

std::string ControlScript() {
  std::ifstream in(QARDEX_RGS_TEMPLATE);
  std::stringstream text;
  text << in.rdbuf();
  std::string script = text.str();
  // The template names its identifiers by build variable.
  for (const char* name : {"@QARDEX_CLSID@", "@QARDEX_LIBID@"}) {
    for (std::size_t at; (at = script.find(name)) != std::string::npos;) {
      script.replace(at, std::string(name).size(), std::string(kGuid).substr(1, 36));
    }
  }
  return script;
}

RegistryScript Parse(const std::string& text, const std::string& module) {
  std::string error;
  const auto expanded = ExpandScriptVariables(text, {{"MODULE", module}}, &error);
  EXPECT_TRUE(expanded) << error;
  auto parsed = ParseRegistryScript(expanded.value_or(""), &error);
  EXPECT_TRUE(parsed) << error;
  return parsed.value_or(RegistryScript{});
}

TEST(RegistryScript, ControlEntriesAreRegisteredAsLaidOut) {
  FakeRegistry registry;
  const RegistryScript script = Parse(ControlScript(), "C:\\Program Files\\it's\\QARDEX.dll");
  ASSERT_EQ(ApplyRegistration(script, registry), 0);
  const std::string clsid = std::string("HKCR\\CLSID\\") + kGuid;
  EXPECT_EQ(registry.Value("HKCR\\QARDEX.twQARDEX.1|"), "twQARDEX Class");
  EXPECT_EQ(registry.Value("HKCR\\QARDEX.twQARDEX.1\\CLSID|"), kGuid);
  EXPECT_EQ(registry.Value("HKCR\\QARDEX.twQARDEX\\CurVer|"), "QARDEX.twQARDEX.1");
  EXPECT_EQ(registry.Value(clsid + "|"), "twQARDEX Class");
  EXPECT_EQ(registry.Value(clsid + "\\ProgID|"), "QARDEX.twQARDEX.1");
  EXPECT_EQ(registry.Value(clsid + "\\VersionIndependentProgID|"), "QARDEX.twQARDEX");
  EXPECT_TRUE(registry.keys.count(clsid + "\\Programmable"));
  // The module path survives quotes and blanks.
  EXPECT_EQ(registry.Value(clsid + "\\InprocServer32|"), "C:\\Program Files\\it's\\QARDEX.dll");
  EXPECT_EQ(registry.Value(clsid + "\\InprocServer32|ThreadingModel"), "Apartment");
  EXPECT_EQ(registry.Value(clsid + "\\TypeLib|"), kGuid);
}

TEST(RegistryScript, ReRegistrationReplacesTheClassKeyWhole) {
  FakeRegistry registry;
  const RegistryScript script = Parse(ControlScript(), "C:\\QARDEX.dll");
  ASSERT_EQ(ApplyRegistration(script, registry), 0);
  const std::string clsid = std::string("HKCR\\CLSID\\") + kGuid;
  registry.keys.insert(clsid + "\\Stale");
  ASSERT_EQ(ApplyRegistration(script, registry), 0);
  EXPECT_FALSE(registry.keys.count(clsid + "\\Stale"));
}

TEST(RegistryScript, UnregistrationRemovesOwnKeysAndKeepsOthers) {
  FakeRegistry registry;
  registry.keys.insert("HKCR\\CLSID\\{OTHER}");
  registry.keys.insert("HKCR\\CLSID");
  const RegistryScript script = Parse(ControlScript(), "C:\\QARDEX.dll");
  ASSERT_EQ(ApplyRegistration(script, registry), 0);
  // Something else also lives under the class's version-independent key.
  registry.CreateKey(RootKey::ClassesRoot, "QARDEX.twQARDEX\\Foreign");
  ASSERT_EQ(ApplyUnregistration(script, registry), 0);
  EXPECT_EQ(registry.keys,
            (std::set<std::string>{"HKCR\\CLSID", "HKCR\\CLSID\\{OTHER}", "HKCR\\QARDEX.twQARDEX",
                                   "HKCR\\QARDEX.twQARDEX\\Foreign"}));
  EXPECT_TRUE(registry.values.empty());
}

TEST(RegistryScript, RegistrationStopsAtTheFirstFailure) {
  FakeRegistry registry;
  registry.failCreateWith = 5;
  EXPECT_EQ(ApplyRegistration(Parse(ControlScript(), "m"), registry), 5);
  EXPECT_TRUE(registry.values.empty());
}

TEST(RegistryScript, ValuesFlagsAndRoots) {
  const RegistryScript script = Parse(
      "HKLM { NoRemove Software { ForceRemove 'Q Key' = s 'it''s' { val Count = d '42' "
      "val Hex = d 0x10 Delete Old } } }\nHKCU { A }",
      "");
  ASSERT_EQ(script.roots.size(), 2u);
  const ScriptKey& key = script.roots[0].keys[0].subkeys[0];
  EXPECT_EQ(key.name, "Q Key");
  EXPECT_EQ(key.flag, KeyFlag::ForceRemove);
  ASSERT_EQ(key.values.size(), 3u);
  EXPECT_EQ(key.values[0].text, "it's");
  EXPECT_EQ(key.values[1].number, 42u);
  EXPECT_EQ(key.values[2].number, 16u);
  EXPECT_EQ(key.subkeys[0].flag, KeyFlag::Delete);
  EXPECT_EQ(script.roots[1].root, RootKey::CurrentUser);
}

TEST(RegistryScript, MalformedScriptsAreRefusedWithAReason) {
  for (const char* bad : {"HKCR {", "HKXX { A }", "HKCR { A = s 'open }", "HKCR { A = x 'y' }",
                          "HKCR { val V = s 'x' }", "HKCR { A = d 'zz' }",
                          "HKCR { A = d '99999999999' }", "HKCR { = s 'x' }", "{ }"}) {
    std::string error;
    EXPECT_FALSE(ParseRegistryScript(bad, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  std::string error;
  EXPECT_FALSE(ExpandScriptVariables("%MISSING%", {}, &error));
  EXPECT_FALSE(ExpandScriptVariables("50% done", {}, &error));
}

}  // namespace
}  // namespace qardex::registration
