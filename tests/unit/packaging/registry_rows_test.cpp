#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text_conversion.h"
#include "messaging/extension_policies.h"
#include "messaging/host_registrations.h"
#include "packaging/msi/extension_rows.h"
#include "packaging/msi/idl_facts.h"
#include "packaging/msi/registry_rows.h"

namespace qardex::packaging {
namespace {

const ModulePlace kModule{"[#QARDEX.dll]", "[ProgramFiles64Folder]QARDEX"};

std::string Show(const std::vector<RegistryRow>& rows) {
  std::string text;
  for (const RegistryRow& r : rows) {
    text += r.key + "|" + r.name + "|" +
            (r.emptyKey ? "<key>"
             : r.dword  ? "#" + r.value
                        : r.value) +
            "\n";
  }
  return text;
}

// The registration walk decides the rows: values in order, a key with nothing in it as a key of
// its own, parents with subkeys (NoRemove or not) as nothing.
TEST(MsiScriptRows, RowsFollowTheRegistrationWalk) {
  const struct {
    const char* script;
    const char* rows;
  } cases[] = {
      {"HKCR\n{\n NoRemove CLSID\n {\n  ForceRemove {X} = s 'Name'\n  {\n   InprocServer32 = s "
       "'%MODULE%'\n   {\n    val ThreadingModel = s 'Apartment'\n   }\n  }\n }\n}\n",
       "CLSID\\{X}||Name\nCLSID\\{X}\\InprocServer32||[#QARDEX.dll]\n"
       "CLSID\\{X}\\InprocServer32|ThreadingModel|Apartment\n"},
      {"HKCR\n{\n A\n {\n  ForceRemove 'Programmable'\n  val N = d '42'\n }\n}\n",
       "A|N|#42\nA\\Programmable||<key>\n"},
      {"HKCR\n{\n A\n {\n  B\n  {\n   C = s 'it''s'\n  }\n }\n}\n", "A\\B\\C||it's\n"},
  };
  for (const auto& c : cases) {
    const RowSet set = ScriptRows(c.script, kModule);
    EXPECT_EQ(set.error, "") << c.script;
    EXPECT_EQ(Show(set.rows), c.rows) << c.script;
  }
}

TEST(MsiScriptRows, RefusesWhatAPackageCannotMirror) {
  for (const char* script : {"HKLM\n{\n A = s 'x'\n}\n", "HKCR\n{\n A = s '%OTHER%'\n}\n",
                             "HKCR\n{\n A = s 'open\n}\n"}) {
    const RowSet set = ScriptRows(script, kModule);
    EXPECT_NE(set.error, "") << script;
    EXPECT_TRUE(set.rows.empty()) << script;
  }
}

TEST(MsiWixElements, EscapesFormattedTextAndXmlButNotTheModulePlace) {
  const std::vector<RegistryRow> rows = {
      {"CLSID\\{X}", "", "[a] & <b> \"c\" $d", false, false},
      {"K", "N", "#1", false, false},
      {"K", "D", "7", true, false},
      {"K\\E", "", "", false, true},
      {"T", "", "[ProgramFiles64Folder]QARDEX\\[#QARDEX.dll]", false, false},
  };
  EXPECT_EQ(WixElements(rows, kModule),
            "<RegistryValue Root=\"HKCR\" Key=\"CLSID\\[\\{]X[\\}]\" Type=\"string\" "
            "Value=\"[\\[]a[\\]] &amp; &lt;b&gt; &quot;c&quot; $$d\"/>\n"
            "<RegistryValue Root=\"HKCR\" Key=\"K\" Name=\"N\" Type=\"string\" Value=\"##1\"/>\n"
            "<RegistryValue Root=\"HKCR\" Key=\"K\" Name=\"D\" Type=\"integer\" Value=\"7\"/>\n"
            "<RegistryValue Root=\"HKCR\" Key=\"K\\E\" Name=\"*\" Type=\"string\" Value=\"\"/>\n"
            "<RegistryValue Root=\"HKCR\" Key=\"T\" Type=\"string\" "
            "Value=\"[ProgramFiles64Folder]QARDEX\\[#QARDEX.dll]\"/>\n");
}

// Descriptions already registered count as the package's own only with the package's text.
TEST(MsiCategories, ConditionAcceptsOnlyAbsentOrOwnDescriptions) {
  const RegistryRow plain{"Component Categories\\{A}", "409", "Safe!", false, false};
  const RegistryRow hashed{"Component Categories\\{B}", "409", "#1 safe", false, false};
  EXPECT_EQ(CategoryCondition({plain, hashed}, "P"),
            "(NOT P1 OR P1 = \"Safe!\") AND (NOT P2 OR P2 = \"##1 safe\")");
  EXPECT_EQ(WixCategorySearches({plain}, "P"),
            "<Property Id=\"P1\"><RegistrySearch Id=\"P1Search\" Root=\"HKCR\" "
            "Key=\"Component Categories\\[\\{]A[\\}]\" Name=\"409\" Type=\"raw\"/></Property>\n");
  for (const char* text : {"say \"safe\"", "it's safe"}) {
    EXPECT_FALSE(CategoryCondition({{"K", "409", text, false, false}}, "P")) << text;
  }
}

constexpr const char* kIdl = R"(
import "oaidl.idl"; // [dual] interface Commented : IDispatch {}
[ object, uuid(aa-1), dual, helpstring("A") ] interface IAuto : IDispatch { [id(1)] HRESULT F([out, retval] BSTR* p); };
[ object, uuid(bb-2), oleautomation ] interface IOle : IUnknown { };
[ object, uuid(cc-3), local ] interface IPlain : IUnknown { };
[ object, uuid(dd-4), dual ] interface IUnused : IDispatch { };
[ uuid(ee-5), version(1.10), lcid(0x409), control, helpstring("Lib 1.0") ]
library Lib { importlib("stdole2.tlb"); [uuid(ff-6)] coclass C { [default] interface IAuto; interface IPlain; interface IOle; }; };
)";

// The type library's facts come from the definition: automation interfaces the library names.
TEST(MsiTypeLibrary, FactsAndRowsFromTheDefinition) {
  std::string error;
  const std::optional<TypeLibraryFacts> facts = ReadTypeLibraryFacts(kIdl, &error);
  ASSERT_TRUE(facts) << error;
  EXPECT_EQ(Show(TypeLibraryRows(*facts, kModule, "win32")),
            "TypeLib\\{EE-5}\\1.a||Lib 1.0\nTypeLib\\{EE-5}\\1.a\\FLAGS||10\n"
            "TypeLib\\{EE-5}\\1.a\\409\\win32||[#QARDEX.dll]\n"
            "TypeLib\\{EE-5}\\1.a\\HELPDIR||[ProgramFiles64Folder]QARDEX\n"
            "Interface\\{AA-1}||IAuto\n"
            "Interface\\{AA-1}\\ProxyStubClsid||{00020424-0000-0000-C000-000000000046}\n"
            "Interface\\{AA-1}\\ProxyStubClsid32||{00020424-0000-0000-C000-000000000046}\n"
            "Interface\\{AA-1}\\TypeLib||{EE-5}\nInterface\\{AA-1}\\TypeLib|Version|1.a\n"
            "Interface\\{BB-2}||IOle\n"
            "Interface\\{BB-2}\\ProxyStubClsid||{00020424-0000-0000-C000-000000000046}\n"
            "Interface\\{BB-2}\\ProxyStubClsid32||{00020424-0000-0000-C000-000000000046}\n"
            "Interface\\{BB-2}\\TypeLib||{EE-5}\nInterface\\{BB-2}\\TypeLib|Version|1.a\n");
}

TEST(MsiTypeLibrary, RefusesDefinitionsItCannotRead) {
  for (const char* idl :
       {"[uuid(1)] library L {};", "[version(1.0)] library L {};",
        "[uuid(1), version(1.0)] library L { dispinterface D {}; };",
        "[uuid(1), version(1.0)] library L {}; [uuid(2), version(1.0)] library M {};",
        "[uuid(1), version(1.0)] library L { /* open", "interface I"}) {
    std::string error;
    EXPECT_FALSE(ReadTypeLibraryFacts(idl, &error)) << idl;
    EXPECT_NE(error, "") << idl;
  }
}

// Every browser's machine key points at the installed manifest of its own family, and each
// force-install component writes its family's policies, and nothing else, from its property.
TEST(MsiExtensionRows, EachBrowserGetsItsFamilysRows) {
  const std::string hosts = WixHostRows("stage");
  for (const messaging::BrowserRegistration& browser : messaging::HostRegistrations()) {
    const std::string file = common::WideToUtf8(messaging::ManifestFileName(browser.family));
    EXPECT_NE(hosts.find("<File Id=\"" + file + "\" Name=\"" + file + "\" Source=\"stage/" + file),
              std::string::npos);
    EXPECT_NE(hosts.find("Root=\"HKLM\" Key=\"" + common::WideToUtf8(browser.key) +
                         "\" Type=\"string\" Value=\"[#" + file + "]\""),
              std::string::npos)
        << browser.browser << "\n"
        << hosts;
  }
  for (const ForceInstallProperty& property : ForceInstallProperties()) {
    const std::string rows = WixForceInstallRows(property);
    for (const messaging::ExtensionPolicy& policy : messaging::ExtensionPolicies()) {
      const bool own = (policy.family == messaging::BrowserFamily::Firefox) == property.firefox;
      EXPECT_EQ(rows.find(common::WideToUtf8(messaging::PolicyKey(policy))) != std::string::npos,
                own)
          << policy.browser << " in " << property.component;
    }
    EXPECT_NE(rows.find(std::string("[") + property.property + "]"), std::string::npos);
    EXPECT_NE(ForceInstallConditions().find(std::string(property.component) + "\t" +
                                            property.property + " AND "),
              std::string::npos);
  }
}

}  // namespace
}  // namespace qardex::packaging
