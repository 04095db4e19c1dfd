// qardex-crypto-bench: enciphers and hashes one buffer with our code and with libcrypto (EVP
// des-ede3-ecb, SHA1), checks that both agree, and prints MB/s and the ratio ours / libcrypto.
//
//   qardex-crypto-bench [MEBIBYTES]     (default 16)
//
// Each figure is the best of five passes. Exits 0, or 1 when the results disagree or libcrypto
// fails, 2 on a usage error.
#include <openssl/evp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "crypto/sha1.h"
#include "crypto/tdea.h"

namespace {

using qardex::crypto::Sha1Digest;
using qardex::crypto::TdeaKey;
using Clock = std::chrono::steady_clock;

constexpr int kPasses = 5;

double BestSeconds(const std::function<void()>& work) {
  double best = 1e30;
  for (int pass = 0; pass < kPasses; ++pass) {
    const Clock::time_point start = Clock::now();
    work();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (seconds < best) best = seconds;
  }
  return best;
}

bool LibcryptoTdea(const TdeaKey& key, const std::vector<unsigned char>& in,
                   std::vector<unsigned char>& out) {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                          EVP_CIPHER_CTX_free);
  int written = 0;
  return context &&
         EVP_EncryptInit_ex(context.get(), EVP_des_ede3_ecb(), nullptr, key.data(), nullptr) == 1 &&
         EVP_CIPHER_CTX_set_padding(context.get(), 0) == 1 &&
         EVP_EncryptUpdate(context.get(), out.data(), &written, in.data(),
                           static_cast<int>(in.size())) == 1 &&
         static_cast<std::size_t>(written) == in.size();
}

bool LibcryptoSha1(const std::vector<unsigned char>& in, Sha1Digest& digest) {
  unsigned int length = 0;
  return EVP_Digest(in.data(), in.size(), digest.data(), &length, EVP_sha1(), nullptr) == 1 &&
         length == digest.size();
}

void Report(const char* name, double megabytes, double oursSeconds, double theirsSeconds) {
  const double ours = megabytes / oursSeconds;
  const double theirs = megabytes / theirsSeconds;
  std::printf("%-12s ours %8.1f MB/s   libcrypto %8.1f MB/s   ratio %.2f\n", name, ours, theirs,
              ours / theirs);
}

}  // namespace

int main(int argc, char** argv) {
  long mebibytes = 16;
  if (argc > 2 || (argc == 2 && (mebibytes = std::strtol(argv[1], nullptr, 10)) <= 0)) {
    std::fprintf(stderr, "usage: qardex-crypto-bench [MEBIBYTES]\n");
    return 2;
  }
  const std::size_t size = static_cast<std::size_t>(mebibytes) << 20;
  const double megabytes = static_cast<double>(size) / 1e6;

  std::vector<unsigned char> input(size);
  std::uint32_t state = 12345;
  for (unsigned char& byte : input) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<unsigned char>(state >> 24);
  }
  TdeaKey key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(i * 37 + 11);

  std::vector<unsigned char> ours(size), theirs(size);
  bool libcryptoOk = true;
  const double oursTdea =
      BestSeconds([&] { qardex::crypto::TdeaEcbEncrypt(key, input.data(), ours.data(), size); });
  const double theirsTdea = BestSeconds([&] { libcryptoOk &= LibcryptoTdea(key, input, theirs); });
  if (!libcryptoOk || ours != theirs) {
    std::fprintf(stderr, "Triple-DES results differ or libcrypto failed\n");
    return 1;
  }

  Sha1Digest oursDigest{}, theirsDigest{};
  const double oursSha1 =
      BestSeconds([&] { oursDigest = qardex::crypto::Sha1Of(input.data(), size); });
  const double theirsSha1 = BestSeconds([&] { libcryptoOk &= LibcryptoSha1(input, theirsDigest); });
  if (!libcryptoOk || oursDigest != theirsDigest) {
    std::fprintf(stderr, "SHA-1 digests differ or libcrypto failed\n");
    return 1;
  }

  std::printf("buffer %ld MiB, best of %d passes, -O2 without sanitizers\n", mebibytes, kPasses);
  Report("des-ede3-ecb", megabytes, oursTdea, theirsTdea);
  Report("sha1", megabytes, oursSha1, theirsSha1);
  return 0;
}
