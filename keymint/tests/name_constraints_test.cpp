// A root made the way the tool makes it, but kept with its key, signs server certificates for
// other names: the openssl command must refuse every one of them.
#include <gtest/gtest.h>

#include <ctime>

#include "keymint/local_root.h"
#include "keymint/tests/test_support.h"
#include "qardex_constants.h"

namespace qardex::keymint {
namespace {

TEST(LocalRootNameConstraints, VouchForTheLocalServiceNamesOnly) {
  const ServerNames scope{build::kLocalServiceHost, "127.0.0.1"};
  const Validity validity = ValidityFrom(std::time(nullptr));
  const LocalRoot root = LocalRoot::Create(scope, validity);
  const PkeyPtr key = NewRsaKey();
  test::ScratchFolder folder;
  const auto rootFile = folder.path() / "root.pem";
  test::WriteFile(rootFile, CertificatePem(root.certificate()));

  struct Case {
    ServerNames names;
    bool accepted;
  };
  const Case cases[] = {
      {scope, true},
      {{"other.example", "127.0.0.1"}, false},
      {{scope.host + ".other.example", "127.0.0.1"}, false},
      {{scope.host, "192.0.2.1"}, false},
      {{scope.host, "127.0.0.1", "other.localhost"}, false},
  };
  for (const Case& c : cases) {
    const auto serverFile = folder.path() / "server.pem";
    test::WriteFile(
        serverFile,
        CertificatePem(root.IssueServerCertificate(key.get(), c.names, validity).get()));
    const test::CommandResult verify = test::RunOpenssl("verify -CAfile '" + rootFile.string() +
                                                        "' '" + serverFile.string() + "'");
    EXPECT_EQ(verify.status == 0, c.accepted)
        << c.names.host << " " << c.names.address << ": " << verify.output;
  }
}

}  // namespace
}  // namespace qardex::keymint
