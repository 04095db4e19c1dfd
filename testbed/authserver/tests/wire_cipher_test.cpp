#include "testbed/authserver/wire_cipher.h"

#include <gtest/gtest.h>

#include "testbed/authserver/sam.h"

namespace authserver {
namespace {

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(WireCipher, TripleDesUsesTheThreeKeysInOrder) {
    // The three-key example of NIST SP 800-67.
    const TdesKey key = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x23, 0x45, 0x67, 0x89,
                         0xAB, 0xCD, 0xEF, 0x01, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23};
    const auto ciphertext = tdes_encrypt(key, bytes_of("The qufck brown fox jump"));
    ASSERT_TRUE(ciphertext);
    EXPECT_EQ(hex_upper(*ciphertext), "A826FD8CE53B855FCCE21C8112256FE668D5C05DD9B6B900");
    EXPECT_EQ(tdes_decrypt(key, *ciphertext), bytes_of("The qufck brown fox jump"));
    EXPECT_FALSE(tdes_encrypt(key, Bytes(12, 0))) << "only whole blocks";
}

TEST(WireCipher, PaddingAddsOneToEightBytesAndIsCheckedStrictly) {
    EXPECT_EQ(pad_block8(Bytes{}), Bytes(8, 8));
    EXPECT_EQ(pad_block8(Bytes(7, 'x')).back(), 1);
    EXPECT_EQ(pad_block8(Bytes(8, 'x')).size(), 16u);
    EXPECT_EQ(pad_block8(Bytes(278, 'x')).size(), 280u);  // the Hello
    for (std::size_t length : {0u, 1u, 7u, 8u, 44u, 55u}) {
        EXPECT_EQ(unpad_block8(pad_block8(Bytes(length, 'y'))), Bytes(length, 'y'));
    }
    Bytes padded = pad_block8(Bytes(5, 'z'));
    padded.back() = 9;
    EXPECT_FALSE(unpad_block8(padded)) << "count above 8";
    padded.back() = 0;
    EXPECT_FALSE(unpad_block8(padded)) << "count 0";
    padded = pad_block8(Bytes(5, 'z'));
    padded[5] = 'z';
    EXPECT_FALSE(unpad_block8(padded)) << "padding bytes that differ";
    EXPECT_FALSE(unpad_block8(Bytes(7, 1))) << "not whole blocks";
}

TEST(WireCipher, KeysAreComposedFromTheirParts) {
    std::array<std::uint8_t, 16> hello{};
    hello.fill(0xA5);
    const TdesKey hello_key = hello_tdes_key(hello);
    EXPECT_EQ(hex_upper(Bytes(hello_key.begin(), hello_key.end())),
              "A5A5A5A5A5A5A5A5A5A5A5A5A5A5A5A50000000000000000");

    const TdesKey session = session_tdes_key("1234567890123456", bytes_of("SECRETSxIGNORED"));
    EXPECT_EQ(std::string(session.begin(), session.end()), "1234567890123456SECRETSx");
    const TdesKey short_secret = session_tdes_key("1234567890123456", bytes_of("AB"));
    EXPECT_EQ(short_secret[18], 0) << "missing secret bytes are zero";
}

}  // namespace
}  // namespace authserver
