#include "setup/install_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/certificate_rules.h"
#include "setup/child_environment.h"
#include "setup/install_texts.h"

namespace qardex::setup {
namespace {

TEST(InstallLayout, PathsAndCommandsOfTheInstallationFolder) {
  Overflow overflow;
  const auto layout = BuildInstallLayout("C:\\Program Files\\QARDEX", &overflow);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->serviceProgram, "C:\\Program Files\\QARDEX\\mQARDEXService.exe");
  EXPECT_EQ(layout->keyMintCommand, "call \"C:\\Program Files\\QARDEX\\cert\\KeyMint.exe\"");
  EXPECT_EQ(layout->trustCommand, "call \"C:\\Program Files\\QARDEX\\FoxTrust.cmd\" ");
  EXPECT_EQ(layout->copies[2].source, "C:\\Program Files\\QARDEX\\cert\\ZELRootCA.pem");
  EXPECT_EQ(layout->copies[2].destination, "C:\\Program Files\\QARDEX\\certpem\\ZELRootCA.pem");
  EXPECT_EQ(layout->copies[3].destination, "C:\\Program Files\\QARDEX\\certpem\\ZELServerCert.pem");
  EXPECT_EQ(layout->rootCertificate, "C:\\Program Files\\QARDEX\\ZELServerCert.crt");
  EXPECT_EQ(ScriptCommand("C:", kUntrustScript, &overflow), "call \"C:\\FoxUntrust.cmd\" ");
}

// The browsers' root copies: named by the serial as OpenSSL writes it, and only those are taken
// for such copies when earlier ones are cleared away.
TEST(InstallLayout, RootCopiesNamedBySerial) {
  const struct {
    std::vector<unsigned char> bigEndian;
    const char* digits;
  } serials[] = {{{0x00, 0x0a, 0xff, 0x10}, "0AFF10"}, {{0x7f}, "7F"}, {{0x00}, ""}, {{}, ""}};
  for (const auto& s : serials) EXPECT_EQ(SerialDigits(s.bigEndian), s.digits);
  EXPECT_EQ(BrowserRootCopyFor("0AFF10"), "certpem\\ZELRootCA-0AFF10.pem");
  EXPECT_TRUE(IsBrowserRootName(BrowserRootNameFor("0AFF10")));
  for (const char* name : {"ZELRootCA.pem", "ZELRootCA-.pem", "ZELRootCA-0aff.pem",
                           "ZELRootCA-0AFF.pem.keymint-new", "ZELServerCert.pem"}) {
    EXPECT_FALSE(IsBrowserRootName(name)) << name;
  }
}

TEST(InstallLayout, TextsThatDoNotFitAreReportedWhole) {
  // "\certpem\ZELServerCert.pem" is the longest addition (26 bytes).
  const std::string fits(kPathLimit - 26, 'f');
  Overflow overflow;
  EXPECT_TRUE(BuildInstallLayout(fits, &overflow));
  const std::string longer = fits + "g";
  EXPECT_FALSE(BuildInstallLayout(longer, &overflow));
  EXPECT_EQ(overflow.text, longer + "\\certpem\\ZELServerCert.pem");
  EXPECT_EQ(OverflowLine(overflow),
            "Path longer than 259 bytes: " + longer + "\\certpem\\ZELServerCert.pem\n");

  // The removal command alone: 23 bytes around the folder.
  EXPECT_TRUE(ScriptCommand(std::string(kPathLimit - 23, 'f'), kUntrustScript, &overflow));
  EXPECT_FALSE(ScriptCommand(std::string(kPathLimit - 22, 'f'), kUntrustScript, &overflow));
  EXPECT_STREQ(overflow.kind, "Command");
}

TEST(InstallLayout, LogAndHostsPaths) {
  Overflow overflow;
  EXPECT_EQ(InstallLogPath("C:\\users\\root\\Temp\\", &overflow),
            "C:\\users\\root\\Temp\\mQARDEX_Install.log");
  EXPECT_FALSE(InstallLogPath(std::string(kPathLimit - 18, 't'), &overflow));
  const auto hosts = BuildHostsPaths("C:\\windows\\system32", &overflow);
  ASSERT_TRUE(hosts);
  EXPECT_EQ(hosts->hosts, "C:\\windows\\system32\\drivers\\etc\\hosts");
  EXPECT_EQ(hosts->backup, "C:\\windows\\system32\\drivers\\etc\\hosts.mQARDEX.Install.backup");
  // The backup's name is the longest: 41 bytes after the system folder.
  EXPECT_TRUE(BuildHostsPaths(std::string(kPathLimit - 41, 's'), &overflow));
  EXPECT_FALSE(BuildHostsPaths(std::string(kPathLimit - 40, 's'), &overflow));
  EXPECT_EQ(overflow.text,
            std::string(kPathLimit - 40, 's') + "\\drivers\\etc\\hosts.mQARDEX.Install.backup");
}

TEST(InstallTexts, LogStartAndEndShareTheirLines) {
  const LocalStamp stamp{2024, 3, 7, 9, 5, 1};
  EXPECT_EQ(text::LogStart(stamp), "mQARDEX Install Start in 2024-03-07 09:05:01");
  EXPECT_EQ(text::LogEnd(stamp), "mQARDEX Install End in 2024-03-07 09:05:01");
  EXPECT_EQ(Format(text::kLogKeyMint, -1), "KeyMint -1 \n");
  EXPECT_EQ(Format(text::kLogFoxTrust, 3), "FoxTrust 3 \n");
}

TEST(CertificateRules, CopyAndImportSizes) {
  EXPECT_FALSE(WorthCopying(0));
  EXPECT_FALSE(WorthCopying(1000));
  EXPECT_TRUE(WorthCopying(1001));
  EXPECT_FALSE(ImportSizeAccepted(0));
  EXPECT_TRUE(ImportSizeAccepted(1));
  EXPECT_TRUE(ImportSizeAccepted(8191));
  EXPECT_FALSE(ImportSizeAccepted(8192));
}

TEST(ChildEnvironment, ComspecNamesTheSystemInterpreterWhateverTheBlockHeld) {
  using namespace std::string_literals;
  const std::wstring cmd = L"C:\\windows\\system32\\cmd.exe";
  const struct {
    std::wstring block;
    std::wstring expected;
  } cases[] = {
      // Replaced where it stood, whatever its letter case; a second entry goes.
      {L"=C:=C:\\\0ComSpec=C:\\x.exe\0PATH=p\0comspec=y\0\0"s,
       L"=C:=C:\\\0COMSPEC="s + cmd + L"\0PATH=p\0\0"s},
      // Missing: placed in sorted order, also before the end and into an empty block.
      {L"=C:=C:\\\0APPDATA=a\0TEMP=t\0\0"s,
       L"=C:=C:\\\0APPDATA=a\0COMSPEC="s + cmd + L"\0TEMP=t\0\0"s},
      {L"ALLUSERSPROFILE=a\0\0"s, L"ALLUSERSPROFILE=a\0COMSPEC="s + cmd + L"\0\0"s},
      {L""s, L"COMSPEC="s + cmd + L"\0\0"s},
      // A name that only begins like it is another variable.
      {L"COMSPECX=z\0\0"s, L"COMSPEC="s + cmd + L"\0COMSPECX=z\0\0"s},
  };
  for (const auto& c : cases) EXPECT_EQ(WithInterpreter(c.block, cmd), c.expected);
}

}  // namespace
}  // namespace qardex::setup
