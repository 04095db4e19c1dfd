// KeyMint: makes the local service's certificate files in the program's own folder (no
// arguments). Exit code 0 when all four files are in place, 1 with a message otherwise; the
// folder then holds what it held before.
#include <cstdio>
#include <ctime>
#include <exception>

#include "keymint/certificate_set.h"
#include "keymint/program_folder.h"
#include "keymint/set_writer.h"
#include "qardex_constants.h"

namespace {
constexpr char kLoopbackAddress[] = "127.0.0.1";
}  // namespace

int main() {
  using namespace qardex::keymint;
  try {
    const std::filesystem::path folder = ProgramFolder();
    const CertificateSet set = MintCertificateSet(
        {qardex::build::kLocalServiceHost, kLoopbackAddress}, std::time(nullptr));
    WriteAllOrNothing(folder, FilesOf(set));
    std::printf("KeyMint: %s, %s, %s and %s written for %s\n", kServerCertificateFile,
                kServerKeyFile, kServerChainFile, kRootCertificateFile,
                qardex::build::kLocalServiceHost);
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "KeyMint failed: %s\n", failure.what());
    return 1;
  }
}
