#include <gtest/gtest.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/qardex_tool/tool_commands.h"

namespace qardex::tool {
namespace {

TEST(QardexTool, UsageErrorsExitWithTwoAndSayWhy) {
  const std::string hex = "00112233445566778899AABBCCDDEEFF";
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{}, "no command"},
      {{"decrypt-all", hex}, "unknown command 'decrypt-all'"},
      {{"decrypt-basic", hex}, "--date is required"},
      {{"decrypt-basic", "--date", "20240230", hex}, "bad date '20240230'"},
      {{"decrypt-basic", "--date", "20240305"}, "hex text is missing"},
      {{"decrypt-basic", "--date", "20240305", hex, hex}, "unexpected argument"},
      {{"decrypt-basic", "--date", "20240305", "--date", "20240305", hex}, "given twice"},
      {{"decrypt-basic", "--card-number", "000012345678", hex}, "does not apply"},
      {{"decrypt-basic", hex, "--date"}, "needs a value"},
      {{"decrypt-basic", "--day", "20240305", hex}, "unknown option '--day'"},
      {{"decrypt-encrypt", "--card-number", "00001234567", "--date", "20240305", hex},
       "12 characters, not 11"},
      {{"hello-key", "extra"}, "unexpected argument"},
      {{"server-key-pin"}, "the key file is missing"},
  };
  for (const auto& [args, message] : cases) {
    const ToolRun run = RunTool(args);
    EXPECT_EQ(run.exitCode, kExitUsage) << message;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("usage:"), std::string::npos);
    EXPECT_TRUE(run.out.empty());
  }
}

// The built program through a shell: exit status and both output streams, as a user sees them.
struct ProcessRun {
  int exitCode = -1;
  std::string output;
};

ProcessRun RunProgram(const std::string& arguments) {
  const std::string command = std::string("'") + QARDEX_TOOL_PATH + "' " + arguments + " 2>&1";
  ProcessRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[256];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    run.output.append(buffer, n);
  }
  const int status = pclose(pipe);
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  return run;
}

// Ciphertexts recorded from the encipherers; they also pin the keys that outside decipherers use.
TEST(QardexToolProgram, DecryptsRecordedResultsAndRefusesBadInput) {
  const ProcessRun basic = RunProgram(
      "decrypt-basic --date 20240305 ED01A3C1941778DF0D68C8C85E471D865A1648C4E015BC09A5A41E82B5F"
      "79BF3DDE1342EE85B7A75A23B363206D77737");
  EXPECT_EQ(basic.exitCode, kExitSuccess);
  EXPECT_EQ(basic.output, "000012345678,A123456789,WANG,0650101,F,\n");

  const ProcessRun page = RunProgram(
      "decrypt-encrypt --date 20240305 --card-number 000012345678 "
      "DB3226332775AE7B167B4FEB2DDF0E9BE47C97FFEAECBBEA");
  EXPECT_EQ(page.exitCode, kExitSuccess);
  EXPECT_EQ(page.output, "\xA7\x64\xA4\x6A\xA6\xD7\xA4\x40\n");  // Big5 bytes, unchanged

  const ProcessRun hello = RunProgram("hello-key");
  EXPECT_EQ(hello.output, "799D6513B3AE5E4416937C5165C51C3A\n");

  const ProcessRun odd = RunProgram("decrypt-basic --date 20240305 ABC");
  EXPECT_EQ(odd.exitCode, kExitDecipherFailed);
  EXPECT_EQ(odd.output, "qardex-tool: the hex text has an odd number of digits\n");
  const ProcessRun partial = RunProgram("decrypt-basic --date 20240305 " + std::string(30, '0'));
  EXPECT_EQ(partial.exitCode, kExitDecipherFailed);
  EXPECT_NE(partial.output.find("number of blocks"), std::string::npos) << partial.output;
  const ProcessRun unknown = RunProgram("encrypt-all");
  EXPECT_EQ(unknown.exitCode, kExitUsage);
  EXPECT_NE(unknown.output.find("unknown command"), std::string::npos) << unknown.output;
}

// The pin of a key, checked against OpenSSL's own command line as the oracle, for the public key
// and for a certificate of the same key.
TEST(QardexToolProgram, PrintsTheSameServerKeyPinAsOpenSsl) {
  const std::string folder = ::testing::TempDir() + "qardex-pin-" + std::to_string(getpid());
  const std::string key = folder + "/key.pem", pub = folder + "/pub.pem";
  const std::string cert = folder + "/cert.pem", junk = folder + "/junk.pem";
  const std::string make = "mkdir -p '" + folder + "' && openssl genpkey -algorithm RSA -out '" +
                           key + "' 2>/dev/null && openssl pkey -in '" + key + "' -pubout -out '" +
                           pub + "' && openssl req -new -x509 -key '" + key +
                           "' -subj /CN=pin -days 2 -out '" + cert + "' && echo not a key > '" +
                           junk + "'";
  ASSERT_EQ(std::system(make.c_str()), 0);
  FILE* pipe =
      popen(("openssl pkey -pubin -in '" + pub + "' -outform DER | sha256sum").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char oracle[65] = {};
  ASSERT_EQ(std::fread(oracle, 1, 64, pipe), 64u);
  pclose(pipe);

  EXPECT_EQ(RunProgram("server-key-pin '" + pub + "'").output, std::string(oracle) + "\n");
  EXPECT_EQ(RunProgram("server-key-pin '" + cert + "'").output, std::string(oracle) + "\n");
  for (const std::string& bad : {junk, folder + "/absent.pem"}) {
    const ProcessRun run = RunProgram("server-key-pin '" + bad + "'");
    EXPECT_EQ(run.exitCode, kExitKeyFileFailed) << run.output;
    EXPECT_NE(run.output.find(bad), std::string::npos) << run.output;
  }
  std::system(("rm -rf '" + folder + "'").c_str());
}

}  // namespace
}  // namespace qardex::tool
