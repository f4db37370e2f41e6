// Incremental digests and HMACs by name, on the private engine (SHA family) and the GOST
// engine (GOST R 34.11-2012 and 34.11-94), against published known answers; the errors of a
// finished context and of names no engine has.
#include "TestSupport.h"
#include "crypto/GostEngine.h"
#include "crypto/Hmac.h"
#include "crypto/MessageDigest.h"

#include <gtest/gtest.h>
#include <openssl/engine.h>
#include <openssl/evp.h>

#include <algorithm>

namespace crypto::test {
namespace {

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The 63-byte message M1 of GOST R 34.11-2012's examples, as the byte string OpenSSL reads.
const char kGostM1[] = "012345678901234567890123456789012345678901234567890123456789012";

struct DigestCase {
    const char* name;
    const char* message;
    const char* digest;
};

const DigestCase kDigestCases[] = {
    {"SHA384", "", "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
    {"md_gost12_256", kGostM1, "9d151eefd8590b89daa6ba6cb74af9275dd051026bb149a452fd84e5e57b5500"},
    {"md_gost12_512", kGostM1,
     "1b54d01a4af5b9d5cc3d86d68d285462b19abc2475222f35c085122be4ba1ffa00ad30f8767b3a82384c6574f024c311e2a481332b08ef7f41797891c1646f48"},
    // As the openssl command computes it with the GOST engine (CryptoPro hash parameters).
    {"md_gost94", "abc", "b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c"},
};

void PrintTo(const DigestCase& c, std::ostream* out) { *out << c.name << " of \"" << c.message << '"'; }

class MessageDigestKnownAnswer : public ::testing::TestWithParam<DigestCase> {};

TEST_P(MessageDigestKnownAnswer, InOnePieceAndByteByByte) {
    const DigestCase& test = GetParam();
    const Bytes message = Text(test.message);
    MessageDigest whole(test.name);
    whole.Update(message.data(), message.size());
    EXPECT_EQ(Hex(test.digest).size(), whole.Size());
    EXPECT_EQ(test.digest, ToHex(whole.Final()));
    MessageDigest parts(test.name);
    for (unsigned char byte : message) parts.Update(&byte, 1);
    EXPECT_EQ(test.digest, ToHex(parts.Final()));
}

INSTANTIATE_TEST_SUITE_P(Digests, MessageDigestKnownAnswer, ::testing::ValuesIn(kDigestCases));

TEST(MessageDigestTest, AnyEvpDigestWithItsEngine) {
    MessageDigest sha384(EVP_sha384(), nullptr);
    sha384.Update(nullptr, 0);
    EXPECT_EQ(kDigestCases[0].digest, ToHex(sha384.Final()));

    auto lock = GostEngine::Lock();
    ENGINE* gost = GostEngine::Get();
    MessageDigest streebog(ENGINE_get_digest(gost, NID_id_GostR3411_2012_256), gost);
    const Bytes message = Text(kGostM1);
    streebog.Update(message.data(), message.size());
    EXPECT_EQ(kDigestCases[1].digest, ToHex(streebog.Final()));
}

TEST(MessageDigestTest, FinishedContextsAndUnknownNamesThrow) {
    EXPECT_EQ(CKR_FUNCTION_FAILED, ErrorOf([] { MessageDigest("no-such-digest"); }));
    EXPECT_EQ(CKR_FUNCTION_FAILED, ErrorOf([] { MessageDigest("aes-128-cbc"); }));
    EXPECT_EQ(CKR_FUNCTION_FAILED, ErrorOf([] { MessageDigest(nullptr, nullptr); }));
    EXPECT_EQ(CKR_FUNCTION_FAILED, ErrorOf([] { Hmac("no-such-digest", Bytes(16, 1)); }));
    MessageDigest digest("SHA512");
    digest.Final();
    const unsigned char byte = 0;
    EXPECT_EQ(CKR_FUNCTION_FAILED, ErrorOf([&] { digest.Update(&byte, 1); }));
    EXPECT_EQ(CKR_FUNCTION_FAILED, ErrorOf([&] { digest.Final(); }));
    Hmac mac("SHA256", Bytes(16, 1));
    mac.Final();
    EXPECT_EQ(CKR_FUNCTION_FAILED, ErrorOf([&] { mac.Final(); }));
}

struct HmacCase {
    const char* name;
    const char* digest;
    Bytes key;
    Bytes data;
    const char* mac;
};

void PrintTo(const HmacCase& c, std::ostream* out) { *out << c.name; }

const HmacCase kHmacCases[] = {
    {"GOST R 34.11-2012 HMAC example", "md_gost12_256", Hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"),
     Hex("0126bdb87800af214341456563780100"), "a1aa5f7de402d7b3d323f2991c8d4534013137010a83754fd0af6d7cd4922ed9"},
    // An empty key is a valid HMAC key: its pads alone.
    {"empty key", "SHA1", {}, Text("data"), "257d2c35443af1e2fe590bcf71d7cfc2e7253310"},
};

class HmacKnownAnswer : public ::testing::TestWithParam<HmacCase> {};

TEST_P(HmacKnownAnswer, InOnePieceAndInTwo) {
    const HmacCase& test = GetParam();
    Hmac whole(test.digest, test.key);
    whole.Update(test.data.data(), test.data.size());
    EXPECT_EQ(test.mac, ToHex(whole.Final()));
    Hmac parts(test.digest, test.key);
    const size_t half = test.data.size() / 2;
    parts.Update(test.data.data(), half);
    parts.Update(test.data.data() + half, test.data.size() - half);
    EXPECT_EQ(test.mac, ToHex(parts.Final()));
}

INSTANTIATE_TEST_SUITE_P(Hmacs, HmacKnownAnswer, ::testing::ValuesIn(kHmacCases));

}  // namespace
}  // namespace crypto::test
