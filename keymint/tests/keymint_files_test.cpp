// Runs the tool from a folder of its own, as the installer does, and checks what it leaves
// there with the openssl command.
#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <ctime>

#include "keymint/certificate_set.h"
#include "keymint/tests/test_support.h"
#include "qardex_constants.h"
#include "setup/certificate_rules.h"

namespace qardex::keymint {
namespace {

namespace fs = std::filesystem;
using test::PemBlocks;
using test::ReadFile;
using test::RunOpenssl;

const std::string kHost = build::kLocalServiceHost;

class KeyMintRun : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new test::ScratchFolder();
    fs::copy_file(KEYMINT_PATH, folder_->path() / "KeyMint");
    run_ = new test::CommandResult(
        test::RunCommand("'" + (folder_->path() / "KeyMint").string() + "'"));
  }
  static void TearDownTestSuite() {
    delete run_;
    delete folder_;
  }
  static fs::path File(const char* name) { return folder_->path() / name; }
  static std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }
  // The server certificate alone, as the openssl command verifies the first certificate of a file.
  static fs::path ServerCertificate() {
    const fs::path path = folder_->path() / "server-only.pem";
    test::WriteFile(path, PemBlocks(ReadFile(File(kServerChainFile))).at(0).text);
    return path;
  }

  static test::ScratchFolder* folder_;
  static test::CommandResult* run_;
};
test::ScratchFolder* KeyMintRun::folder_ = nullptr;
test::CommandResult* KeyMintRun::run_ = nullptr;

TEST_F(KeyMintRun, LeavesExactlyTheFourFilesTheInstallerCopiesAndImports) {
  ASSERT_EQ(run_->status, 0) << run_->output;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder_->path())) {
    names.push_back(entry.path().filename().string());
  }
  std::vector<std::string> expected{"KeyMint", kServerCertificateFile, kServerKeyFile,
                                    kServerChainFile, kRootCertificateFile};
  std::sort(names.begin(), names.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
  for (const char* name :
       {kServerCertificateFile, kServerKeyFile, kServerChainFile, kRootCertificateFile}) {
    EXPECT_TRUE(setup::WorthCopying(fs::file_size(File(name)))) << name << " would not be copied";
  }
  EXPECT_TRUE(setup::ImportSizeAccepted(fs::file_size(File(kServerCertificateFile))));
}

// The root store takes the first certificate of ZELServerCert.crt: it must be the root.
TEST_F(KeyMintRun, FilesHoldTheRootAndTheChainInTheirOrder) {
  ASSERT_EQ(run_->status, 0) << run_->output;
  const std::string root = ReadFile(File(kRootCertificateFile));
  const auto crt = PemBlocks(ReadFile(File(kServerCertificateFile)));
  const auto chain = PemBlocks(ReadFile(File(kServerChainFile)));
  ASSERT_EQ(crt.size(), 2u);
  ASSERT_EQ(chain.size(), 2u);
  EXPECT_EQ(crt[0].text, root);
  EXPECT_EQ(chain[1].text, root);
  EXPECT_EQ(crt[1].text, chain[0].text);
}

TEST_F(KeyMintRun, ServerCertificateVerifiesOnlyAsTheLocalServer) {
  ASSERT_EQ(run_->status, 0) << run_->output;
  struct Case {
    std::string options;
    bool accepted;
  };
  const Case cases[] = {
      {"-purpose sslserver -verify_hostname " + kHost, true},
      {"-purpose sslserver -verify_ip 127.0.0.1", true},
      {"-purpose sslserver -verify_hostname other.example", false},
      {"-purpose sslserver -verify_ip 127.0.0.2", false},
      {"-purpose sslclient", false},
  };
  const std::string common = "verify -CAfile " + Quoted(File(kRootCertificateFile)) + " ";
  for (const Case& c : cases) {
    const test::CommandResult verify =
        RunOpenssl(common + c.options + " " + Quoted(ServerCertificate()));
    EXPECT_EQ(verify.status == 0, c.accepted) << c.options << ": " << verify.output;
  }
}

TEST_F(KeyMintRun, RootIsConstrainedAndServerCertificateServesOnly) {
  ASSERT_EQ(run_->status, 0) << run_->output;
  const std::string root =
      RunOpenssl("x509 -noout -text -in " + Quoted(File(kRootCertificateFile))).output;
  for (const std::string& expected : std::vector<std::string>{
           "X509v3 Name Constraints: critical", "DNS:" + kHost,
           "DNS:" + std::string(build::kLocalServiceLoopbackHost), "IP:127.0.0.1/255.255.255.255",
           "X509v3 Basic Constraints: critical", "CA:TRUE, pathlen:0",
           "Certificate Sign, CRL Sign"}) {
    EXPECT_NE(root.find(expected), std::string::npos) << expected << " missing in\n" << root;
  }
  const std::string server =
      RunOpenssl("x509 -noout -text -in " + Quoted(ServerCertificate())).output;
  for (const std::string& expected : std::vector<std::string>{
           "DNS:" + kHost + ", DNS:" + build::kLocalServiceLoopbackHost + ", IP Address:127.0.0.1",
           "CA:FALSE", "Digital Signature, Key Encipherment",
           "X509v3 Extended Key Usage: \n                TLS Web Server Authentication\n"}) {
    EXPECT_NE(server.find(expected), std::string::npos) << expected << " missing in\n" << server;
  }
  const X509Ptr certificate = test::CertificateFrom(ReadFile(ServerCertificate()));
  ASSERT_NE(certificate, nullptr);
  int days = 0, seconds = 0;
  ASSERT_EQ(ASN1_TIME_diff(&days, &seconds, X509_get0_notBefore(certificate.get()),
                           X509_get0_notAfter(certificate.get())),
            1);
  EXPECT_LE(days, 397);
  EXPECT_LE(X509_cmp_time(X509_get0_notBefore(certificate.get()), nullptr), 0);
}

// Only the server's key is written: one key block, in the key file, matching the server
// certificate and not the root, and nothing of it on the console.
TEST_F(KeyMintRun, WritesNoKeyButTheServers) {
  ASSERT_EQ(run_->status, 0) << run_->output;
  EXPECT_EQ(run_->output.find("PRIVATE"), std::string::npos) << run_->output;
  for (const char* name : {kServerCertificateFile, kServerChainFile, kRootCertificateFile}) {
    for (const auto& block : PemBlocks(ReadFile(File(name))))
      EXPECT_EQ(block.label, "CERTIFICATE") << name;
  }
  // Natively the key file is its owner's alone (on Windows: SYSTEM's and Administrators').
  const fs::perms others = fs::perms::group_all | fs::perms::others_all;
  EXPECT_EQ(fs::status(File(kServerKeyFile)).permissions() & others, fs::perms::none);
  const std::string keyText = ReadFile(File(kServerKeyFile));
  const auto keyBlocks = PemBlocks(keyText);
  ASSERT_EQ(keyBlocks.size(), 1u);
  EXPECT_EQ(keyBlocks[0].label, "PRIVATE KEY");
  BioPtr memory(BIO_new_mem_buf(keyText.data(), static_cast<int>(keyText.size())));
  const PkeyPtr key(PEM_read_bio_PrivateKey(memory.get(), nullptr, nullptr, nullptr));
  ASSERT_NE(key, nullptr);
  const X509Ptr server = test::CertificateFrom(ReadFile(ServerCertificate()));
  const X509Ptr root = test::CertificateFrom(ReadFile(File(kRootCertificateFile)));
  EXPECT_EQ(X509_check_private_key(server.get(), key.get()), 1);
  EXPECT_EQ(X509_check_private_key(root.get(), key.get()), 0);
}

}  // namespace
}  // namespace qardex::keymint
