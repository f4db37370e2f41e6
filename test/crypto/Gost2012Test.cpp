// GOST R 34.11-94 and 34.11-2012 hashes, GOST R 34.10-2012 keys and signatures and GOST 28147-89
// encryption in the crypto layer: the standards' examples, and the openssl command with the GOST
// engine as the independent checker.
#include "TestSupport.h"

#include "crypto/Der.h"
#include "crypto/Gost28147Cipher.h"
#include "crypto/MessageDigest.h"
#include "crypto/GostR3410.h"

#include <gtest/gtest.h>

namespace crypto::test {
namespace {


// RFC 6986 section 10 (GOST R 34.11-2012 examples M1 and M2; M2 is CP1251 text), and
// RFC 5831 section 7.3.2 (GOST R 34.11-94, CryptoPro hash parameters, the ones the engine has),
// and the empty message (the widely published GOST R 34.11-2012 values).
const std::string kM1 = "012345678901234567890123456789012345678901234567890123456789012";
const std::string kM2Hex =
    "d1e520e2e5f2f0e82c20d1f2f0e8e1eee6e820e2edf3f6e82c20e2e5fef2fa20f120eceef0ff20f1f2f0e5ebe0ece820ede020"
    "f5f0e0e1f0fbff20efebfaeafb20c8e3eef0e5e2fb";

struct DigestCase {
    const char* name;
    const char* algorithm;  // the engine's digest name
    std::string message;
    const char* hash;
};

const DigestCase kDigestCases[] = {
    {"M1_256", "md_gost12_256", kM1, "9d151eefd8590b89daa6ba6cb74af9275dd051026bb149a452fd84e5e57b5500"},
    {"M1_512", "md_gost12_512", kM1,
     "1b54d01a4af5b9d5cc3d86d68d285462b19abc2475222f35c085122be4ba1ffa00ad30f8767b3a82384c6574f024c311e2a481332b08ef7f"
     "41797891c1646f48"},
    {"M2_256", "md_gost12_256", "", "9dd2fe4e90409e5da87f53976d7405b0c0cac628fc669a741d50063c557e8f50"},
    {"M2_512", "md_gost12_512", "",
     "1e88e62226bfca6f9994f1f2d51569e0daf8475a3b0fe61a5300eee46d961376035fe83549ada2b8620fcd7c496ce5b33f0cb9dddc2b6460"
     "143b03dabac9fb28"},
    {"Empty_256", "md_gost12_256", "", "3f539a213e97c802cc229d474c6aa32a825a360b2a933a949fd925208d9ce1bb"},
    {"Empty_512", "md_gost12_512", "",
     "8e945da209aa869f0455928529bcae4679e9873ab707b55315f56ceb98bef0a7362f715528356ee83cda5f2aac4c6ad2ba3a715c1bcd81cb"
     "8e9f90bf4c1c1a8a"},
    {"Gost94_a", "md_gost94", "a", "e74c52dd282183bf37af0079c9f78055715a103f17e3133ceff1aacf2f403011"},
    {"Gost94_abc", "md_gost94", "abc", "b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c"},
    {"Gost94_digest", "md_gost94", "message digest",
     "bc6041dd2aa401ebfa6e9886734174febdb4729aa972d60f549ac39b29721ba0"},
    {"Gost94_32", "md_gost94", "This is message, length=32 bytes",
     "2cefc2f7b7bdc514e18ea57fa74ff357e7fa17d652c75f69cb1be7893ede48eb"},
    {"Gost94_50", "md_gost94", "Suppose the original message has length = 50 bytes",
     "c3730c5cbccacf915ac292676f21e8bd4ef75331d9405e5f1a61dc3130a65011"},
};

Bytes MessageOf(const DigestCase& c) {
    if (std::string(c.name).rfind("M2", 0) == 0) return Hex(kM2Hex);
    return Bytes(c.message.begin(), c.message.end());
}

class GostDigestKnownAnswer : public ::testing::TestWithParam<DigestCase> {};

TEST_P(GostDigestKnownAnswer, InOnePieceAndAtEverySplit) {
    const DigestCase& c = GetParam();
    const Bytes message = MessageOf(c);
    for (size_t split = 0; split <= message.size(); ++split) {
        MessageDigest digest(c.algorithm);
        digest.Update(message.data(), split);
        digest.Update(message.data() + split, message.size() - split);
        ASSERT_EQ(ToHex(digest.Final()), c.hash) << "split at " << split;
    }
}

INSTANTIATE_TEST_SUITE_P(Vectors, GostDigestKnownAnswer, ::testing::ValuesIn(kDigestCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GostDigest, LengthsAndNoUseAfterFinal) {
    EXPECT_EQ(MessageDigest("md_gost94").Size(), 32u);
    EXPECT_EQ(MessageDigest("md_gost12_256").Size(), 32u);
    EXPECT_EQ(MessageDigest("md_gost12_512").Size(), 64u);
    MessageDigest digest("md_gost12_256");
    digest.Final();
    EXPECT_EQ(ErrorOf([&] { digest.Final(); }), CKR_FUNCTION_FAILED);
}

// RFC 7091 section A.1 (the 2001 example again, now for GOST R 34.10-2012 with a 256-bit key on
// the test parameter set); values big-endian there.
const char* const kTestParamSet = "06072a850302022300";
const char* const kRfcD = "7a929ade789bb9be10ed359dd39a72c11b60961f49397eee1d19ce9891ec3b28";
const char* const kRfcQx = "7f2b49e270db6d90d8595bec458b50c58585ba1d4e9b788f6689dbd8e56fd80b";
const char* const kRfcQy = "26f1b489d6701dd185c8413a977b3cbbaf64d1c593d26627dffb101a87ff77da";
const char* const kRfcE = "2dfbc1b372d89a1188c09c52e0eec61fce52032ab1022e8e67ece6672b043ee5";
const char* const kRfcR = "41aa28d2f1ab148280cd9ed56feda41974053554a42767b83ad043fd39dc0493";
const char* const kRfcS = "01456c64ba4642a1653c235a98a60249bcd6d3f746b631df928014f6c5bf9c40";

Bytes Join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(GostR3410_2012, PublishedExampleWithA256BitKey) {
    const Bytes params = Hex(kTestParamSet);
    const Bytes publicValue = Join(Reversed(Hex(kRfcQx)), Reversed(Hex(kRfcQy)));
    EXPECT_EQ(ToHex(GostR3410::PublicFromPrivate(GostKind::R2012_256, Reversed(Hex(kRfcD)), params)),
              ToHex(publicValue));
    const auto key = GostR3410::LoadPublic(GostKind::R2012_256, publicValue, params);
    const Bytes hash = Reversed(Hex(kRfcE));
    const Bytes signature = Join(Hex(kRfcS), Hex(kRfcR));
    EXPECT_EQ(GostR3410::Verify(key, hash, signature), CKR_OK);
    EXPECT_EQ(GostR3410::Verify(key, hash, Join(Hex(kRfcR), Hex(kRfcS))), CKR_SIGNATURE_INVALID);
    Bytes otherHash = hash;
    otherHash[0] ^= 1;
    EXPECT_EQ(GostR3410::Verify(key, otherHash, signature), CKR_SIGNATURE_INVALID);
}

struct KindCase {
    const char* name;
    GostKind kind;
    const char* paramSet;  // dotted; empty for the kind's default
    const char* expectedParamSet;
};

const KindCase kKindCases[] = {
    {"R2012_256_Default", GostKind::R2012_256, "", "1.2.643.2.2.35.1"},
    {"R2012_256_CryptoProB", GostKind::R2012_256, "1.2.643.2.2.35.2", "1.2.643.2.2.35.2"},
    {"R2012_256_TC26A", GostKind::R2012_256, "1.2.643.7.1.2.1.1.1", "1.2.643.7.1.2.1.1.1"},
    {"R2012_256_TC26B", GostKind::R2012_256, "1.2.643.7.1.2.1.1.2", "1.2.643.7.1.2.1.1.2"},
    {"R2012_256_TC26D", GostKind::R2012_256, "1.2.643.7.1.2.1.1.4", "1.2.643.7.1.2.1.1.4"},
    {"R2012_512_Default", GostKind::R2012_512, "", "1.2.643.7.1.2.1.2.1"},
    {"R2012_512_Test", GostKind::R2012_512, "1.2.643.7.1.2.1.2.0", "1.2.643.7.1.2.1.2.0"},
    {"R2012_512_B", GostKind::R2012_512, "1.2.643.7.1.2.1.2.2", "1.2.643.7.1.2.1.2.2"},
    {"R2012_512_C", GostKind::R2012_512, "1.2.643.7.1.2.1.2.3", "1.2.643.7.1.2.1.2.3"},
    {"R2001_CryptoProA", GostKind::R2001, "1.2.643.2.2.35.1", "1.2.643.2.2.35.1"},
};

class GostR3410Kinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(GostR3410Kinds, GenerateLoadSignVerifyAndPkcs8) {
    const KindCase& c = GetParam();
    const Bytes params = *c.paramSet ? Der::OidDer(c.paramSet) : Bytes{};
    const GostKeyComponents key = GostR3410::Generate(c.kind, params);
    const size_t length = c.kind == GostKind::R2012_512 ? 64 : 32;
    ASSERT_EQ(key.privateValue.size(), length);
    ASSERT_EQ(key.publicValue.size(), 2 * length);
    EXPECT_EQ(Der::OidText(key.paramsOid), c.expectedParamSet);
    EXPECT_EQ(GostR3410::KindOf(c.kind == GostKind::R2012_512, key.paramsOid, key.hashParamsOid), c.kind);

    const auto privateKey = GostR3410::LoadPrivate(c.kind, key.privateValue, key.paramsOid);
    const auto publicKey = GostR3410::LoadPublic(c.kind, key.publicValue, key.paramsOid);
    const Bytes hash(GostR3410::HashLength(c.kind), 0x3C);
    const Bytes signature = GostR3410::Sign(privateKey, hash);
    ASSERT_EQ(signature.size(), 2 * length);
    EXPECT_EQ(GostR3410::Verify(publicKey, hash, signature), CKR_OK);
    Bytes bad = signature;
    bad[signature.size() - 1] ^= 0x01;
    EXPECT_EQ(GostR3410::Verify(publicKey, hash, bad), CKR_SIGNATURE_INVALID);
    EXPECT_EQ(GostR3410::Verify(publicKey, hash, Bytes(signature.begin(), signature.end() - 1)),
              CKR_SIGNATURE_LEN_RANGE);
    EXPECT_EQ(ErrorOf([&] { GostR3410::Sign(privateKey, Bytes(hash.size() + 1, 1)); }), CKR_DATA_LEN_RANGE);

    GostKind readKind = GostKind::R2001;
    const GostKeyComponents back = GostR3410::FromPkcs8(GostR3410::ToPkcs8(privateKey), readKind);
    EXPECT_EQ(readKind, c.kind);
    EXPECT_EQ(back.privateValue, key.privateValue);
    EXPECT_EQ(back.publicValue, key.publicValue);
    EXPECT_EQ(back.paramsOid, key.paramsOid);
}

INSTANTIATE_TEST_SUITE_P(Kinds, GostR3410Kinds, ::testing::ValuesIn(kKindCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GostR3410_2012, RefusesWhatDoesNotFit) {
    // A 2001 parameter set is no 512-bit set, a TC26 set no 2001 set.
    EXPECT_FALSE(GostR3410::IsKnownParamSet(GostKind::R2012_512, Der::OidDer("1.2.643.2.2.35.1")));
    EXPECT_FALSE(GostR3410::IsKnownParamSet(GostKind::R2001, Der::OidDer("1.2.643.7.1.2.1.1.1")));
    EXPECT_TRUE(GostR3410::IsKnownParamSet(GostKind::R2012_256, Der::OidDer("1.2.643.2.2.36.1")));
    EXPECT_EQ(ErrorOf([] { GostR3410::LoadPrivate(GostKind::R2012_512, Bytes(32, 1), {}); }),
              CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(ErrorOf([] { GostR3410::LoadPublic(GostKind::R2012_512, Bytes(128, 1), {}); }),
              CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(ErrorOf([] { GostR3410::LoadPrivate(GostKind::R2012_256, Bytes(32, 0xFF), {}); }),
              CKR_ATTRIBUTE_VALUE_INVALID);
    GostKind kind;
    EXPECT_EQ(ErrorOf([&] { GostR3410::FromPkcs8(Bytes{0x30, 0x00}, kind); }), CKR_WRAPPED_KEY_INVALID);
    // The kind follows the hash parameters or a 2012-only key parameter set.
    EXPECT_EQ(GostR3410::KindOf(false, {}, {}), GostKind::R2001);
    EXPECT_EQ(GostR3410::KindOf(false, {}, Der::OidDer("1.2.643.2.2.30.1")), GostKind::R2001);
    EXPECT_EQ(GostR3410::KindOf(false, {}, Der::OidDer("1.2.643.7.1.1.2.2")), GostKind::R2012_256);
    EXPECT_EQ(GostR3410::KindOf(false, Der::OidDer("1.2.643.7.1.2.1.1.3"), {}), GostKind::R2012_256);
}

// GOST 28147-89 encryption against the openssl command with the engine: "gost89" (CFB) takes its
// S-box from CRYPT_PARAMS, "gost89-cnt" always uses CryptoPro-A.
using Mode = Gost28147Cipher::Mode;
const char* const kKey = "0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20";
const char* const kIv = "a1a2a3a4a5a6a7a8";

Bytes Crypt(Mode mode, const Bytes& params, const Bytes& iv, bool encrypt, const Bytes& data, size_t piece) {
    Gost28147Cipher cipher(mode, Hex(kKey), params, iv, encrypt);
    Bytes out;
    for (size_t at = 0; at < data.size(); at += piece) {
        const Bytes part = cipher.Update(data.data() + at, std::min(piece, data.size() - at));
        out.insert(out.end(), part.begin(), part.end());
    }
    const Bytes last = cipher.Final();
    out.insert(out.end(), last.begin(), last.end());
    return out;
}

Bytes Pattern(size_t length) {
    Bytes data(length);
    for (size_t i = 0; i < length; ++i) data[i] = static_cast<unsigned char>(i * 7 + 3);
    return data;
}

Bytes OpensslEnc(const char* cipher, const char* sbox, const Bytes& data) {
    TempDir dir;
    WriteFile(dir.Path("in"), data);
    const std::string command = std::string("CRYPT_PARAMS=") + sbox + " openssl enc -engine gost -" + cipher +
                                " -K " + kKey + " -iv " + kIv + " -in " + dir.Path("in") + " -out " +
                                dir.Path("out") + " 2>&1";
    std::string output;
    EXPECT_EQ(RunCommand(command, &output), 0) << output;
    return ReadFile(dir.Path("out"));
}

struct StreamCase {
    const char* name;
    Mode mode;
    const char* engineCipher;
    const char* sbox;
    size_t length;
};

// Over 1024 bytes the CryptoPro key meshing takes part.
const StreamCase kStreamCases[] = {
    {"CfbCryptoProA", Mode::Cfb, "gost89", "1.2.643.2.2.31.1", 1500},
    {"CfbCryptoProB", Mode::Cfb, "gost89", "1.2.643.2.2.31.2", 77},
    {"CfbCryptoProD", Mode::Cfb, "gost89", "1.2.643.2.2.31.4", 1025},
    {"CfbTest", Mode::Cfb, "gost89", "1.2.643.2.2.31.0", 13},
    {"CntCryptoProA", Mode::Cnt, "gost89-cnt", "1.2.643.2.2.31.1", 2100},
    {"CntCryptoProAShort", Mode::Cnt, "gost89-cnt", "1.2.643.2.2.31.1", 5},
};

class GostCipherAgainstOpenssl : public ::testing::TestWithParam<StreamCase> {};

TEST_P(GostCipherAgainstOpenssl, SameCiphertextInAnyPiecesAndBack) {
    const StreamCase& c = GetParam();
    const Bytes params = Der::OidDer(c.sbox);
    const Bytes plain = Pattern(c.length);
    const Bytes expected = OpensslEnc(c.engineCipher, c.sbox, plain);
    ASSERT_EQ(expected.size(), plain.size());
    for (size_t piece : {c.length, size_t{1}, size_t{7}, size_t{64}}) {
        EXPECT_EQ(ToHex(Crypt(c.mode, params, Hex(kIv), true, plain, piece)), ToHex(expected)) << "pieces " << piece;
        EXPECT_EQ(Crypt(c.mode, params, Hex(kIv), false, expected, piece), plain) << "pieces " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, GostCipherAgainstOpenssl, ::testing::ValuesIn(kStreamCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Single-block encryption E(x) is what CFB gives for a zero block with x as its IV: ECB is
// checked against the engine's own CFB for every S-box.
TEST(GostCipherEcb, BlocksAreTheEngineCipherAndDecryptBack) {
    for (const char* sbox : {"1.2.643.2.2.31.0", "1.2.643.2.2.31.1", "1.2.643.2.2.31.3"}) {
        const Bytes params = Der::OidDer(sbox);
        const Bytes plain = Pattern(8 * 140);
        for (size_t piece : {plain.size(), size_t{3}, size_t{8}}) {
            const Bytes encrypted = Crypt(Mode::Ecb, params, {}, true, plain, piece);
            ASSERT_EQ(encrypted.size(), plain.size());
            for (size_t block = 0; block < plain.size(); block += 8 * 37) {
                const Bytes x(plain.begin() + block, plain.begin() + block + 8);
                const Bytes viaCfb = Crypt(Mode::Cfb, params, x, true, Bytes(8, 0), 8);
                EXPECT_EQ(ToHex(Bytes(encrypted.begin() + block, encrypted.begin() + block + 8)), ToHex(viaCfb))
                    << sbox << " block " << block / 8;
            }
            EXPECT_EQ(Crypt(Mode::Ecb, params, {}, false, encrypted, piece), plain) << sbox;
        }
    }
}

TEST(GostCipherCnt, TheKeysSBoxTakesEffect) {
    const Bytes plain = Pattern(40);
    const Bytes underA = Crypt(Mode::Cnt, Der::OidDer("1.2.643.2.2.31.1"), Hex(kIv), true, plain, 40);
    const Bytes underB = Crypt(Mode::Cnt, Der::OidDer("1.2.643.2.2.31.2"), Hex(kIv), true, plain, 40);
    EXPECT_NE(underA, underB);
    EXPECT_EQ(Crypt(Mode::Cnt, Der::OidDer("1.2.643.2.2.31.2"), Hex(kIv), false, underB, 3), plain);
}

TEST(GostCipherEcb, RefusesPartialBlocksAndWrongParameters) {
    Gost28147Cipher encrypt(Mode::Ecb, Hex(kKey), {}, {}, true);
    encrypt.Update(Pattern(9).data(), 9);
    EXPECT_EQ(ErrorOf([&] { encrypt.Final(); }), CKR_DATA_LEN_RANGE);
    Gost28147Cipher decrypt(Mode::Ecb, Hex(kKey), {}, {}, false);
    decrypt.Update(Pattern(4).data(), 4);
    EXPECT_EQ(ErrorOf([&] { decrypt.Final(); }), CKR_ENCRYPTED_DATA_LEN_RANGE);
    EXPECT_EQ(ErrorOf([] { Gost28147Cipher(Mode::Ecb, Hex(kKey), {}, Bytes(8, 0), true); }),
              CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(ErrorOf([] { Gost28147Cipher(Mode::Cnt, Hex(kKey), {}, Bytes(7, 0), true); }),
              CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(ErrorOf([] { Gost28147Cipher(Mode::Cfb, Bytes(31, 1), {}, {}, true); }), CKR_KEY_SIZE_RANGE);
    EXPECT_EQ(ErrorOf([] { Gost28147Cipher(Mode::Cfb, Hex(kKey), Der::OidDer("1.2.643.2.2.31.9"), {}, true); }),
              CKR_ATTRIBUTE_VALUE_INVALID);
}

}  // namespace
}  // namespace crypto::test
