// RSA signatures checked against OpenSSL's low-level RSA functions, a path independent of the
// EVP parameter code the crypto layer uses.
#include "TestSupport.h"
#include "crypto/Rsa.h"
#include "crypto/RsaHash.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/obj_mac.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <functional>
#include <memory>

namespace crypto::test {
namespace {

struct RsaFree {
    void operator()(RSA* rsa) const { RSA_free(rsa); }
};
using RsaPtr = std::unique_ptr<RSA, RsaFree>;

BIGNUM* Bn(const Bytes& b) { return BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr); }

RsaPtr Independent(const RsaKeyComponents& c, bool withPrivate) {
    RsaPtr rsa(RSA_new());
    RSA_set0_key(rsa.get(), Bn(c.modulus), Bn(c.publicExponent), withPrivate ? Bn(c.privateExponent) : nullptr);
    return rsa;
}

class RsaKeyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_key = std::make_unique<RsaKeyComponents>(Rsa::Generate(1024, {0x01, 0x00, 0x01})); }
    static void TearDownTestSuite() { s_key.reset(); }
    static const RsaKeyComponents& Key() { return *s_key; }
    static Rsa::PublicKey Public() { return Rsa::LoadPublic(Key().modulus, Key().publicExponent); }
    static std::unique_ptr<RsaKeyComponents> s_key;
};
std::unique_ptr<RsaKeyComponents> RsaKeyTest::s_key;

TEST_F(RsaKeyTest, GeneratedComponentsAreAConsistentKey) {
    const RsaKeyComponents& k = Key();
    EXPECT_EQ(k.modulus.size(), 128u);
    EXPECT_NE(k.modulus[0], 0);
    EXPECT_EQ(k.publicExponent, Hex("010001"));
    for (const Bytes* part : {&k.privateExponent, &k.prime1, &k.prime2, &k.exponent1, &k.exponent2, &k.coefficient}) {
        ASSERT_FALSE(part->empty());
        EXPECT_NE((*part)[0], 0) << "leading zero";
    }
    // p * q == n, computed outside the crypto layer.
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    std::unique_ptr<BIGNUM, decltype(&BN_free)> p(Bn(k.prime1), BN_free), q(Bn(k.prime2), BN_free),
        n(BN_new(), BN_free);
    BN_mul(n.get(), p.get(), q.get(), ctx.get());
    Bytes product(static_cast<size_t>(BN_num_bytes(n.get())));
    BN_bn2bin(n.get(), product.data());
    EXPECT_EQ(product, k.modulus);
}

TEST_F(RsaKeyTest, RawSignatureIsType1PaddingOfTheDataAsGiven) {
    Rsa::PrivateKey key = Rsa::LoadPrivate(Key());
    ASSERT_EQ(Rsa::SignatureLength(key), 128u);
    for (size_t length : {0u, 1u, 32u, 117u}) {
        SCOPED_TRACE(length);
        Bytes data(length, 0xA5);
        Bytes signature = Rsa::SignPkcs1Raw(key, data);
        ASSERT_EQ(signature.size(), 128u);
        Bytes recovered(128);
        int n = RSA_public_decrypt(128, signature.data(), recovered.data(), Independent(Key(), false).get(),
                                   RSA_PKCS1_PADDING);
        ASSERT_EQ(n, static_cast<int>(length));
        recovered.resize(static_cast<size_t>(n));
        EXPECT_EQ(recovered, data);
        EXPECT_EQ(Rsa::VerifyPkcs1Raw(Public(), data, signature), CKR_OK);
    }
    EXPECT_EQ(ErrorOf([&] { Rsa::SignPkcs1Raw(key, Bytes(118, 1)); }), CKR_DATA_LEN_RANGE);
}

TEST_F(RsaKeyTest, RawVerificationAcceptsAnIndependentSignatureAndRejectsBadOnes) {
    Bytes data(32, 0x3C);
    Bytes signature(128);
    ASSERT_EQ(RSA_private_encrypt(32, data.data(), signature.data(), Independent(Key(), true).get(), RSA_PKCS1_PADDING),
              128);
    EXPECT_EQ(Rsa::VerifyPkcs1Raw(Public(), data, signature), CKR_OK);

    Bytes otherData = data;
    otherData[31] ^= 1;
    Bytes flipped = signature;
    flipped[64] ^= 1;
    Bytes aboveModulus(128, 0xFF);
    Bytes truncated(signature.begin(), signature.end() - 1);
    Bytes extended = signature;
    extended.push_back(0);
    EXPECT_EQ(Rsa::VerifyPkcs1Raw(Public(), otherData, signature), CKR_SIGNATURE_INVALID);
    EXPECT_EQ(Rsa::VerifyPkcs1Raw(Public(), data, flipped), CKR_SIGNATURE_INVALID);
    EXPECT_EQ(Rsa::VerifyPkcs1Raw(Public(), data, aboveModulus), CKR_SIGNATURE_INVALID);
    EXPECT_EQ(Rsa::VerifyPkcs1Raw(Public(), Bytes(200, 1), signature), CKR_SIGNATURE_INVALID);
    EXPECT_EQ(Rsa::VerifyPkcs1Raw(Public(), data, truncated), CKR_SIGNATURE_LEN_RANGE);
    EXPECT_EQ(Rsa::VerifyPkcs1Raw(Public(), data, extended), CKR_SIGNATURE_LEN_RANGE);
    EXPECT_EQ(Rsa::VerifyPkcs1Raw(Public(), data, {}), CKR_SIGNATURE_LEN_RANGE);
}

TEST_F(RsaKeyTest, Sha256SignatureMatchesIndependentVerification) {
    Rsa::PrivateKey key = Rsa::LoadPrivate(Key());
    Bytes data(1000, 0x42);
    Bytes signature = Rsa::SignSha256Pkcs1(key, data);
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(data.data(), data.size(), digest);
    EXPECT_EQ(RSA_verify(NID_sha256, digest, sizeof digest, signature.data(), static_cast<unsigned>(signature.size()),
                         Independent(Key(), false).get()),
              1);
    EXPECT_EQ(Rsa::VerifySha256Pkcs1(Public(), data, signature), CKR_OK);
    data[0] ^= 1;
    EXPECT_EQ(Rsa::VerifySha256Pkcs1(Public(), data, signature), CKR_SIGNATURE_INVALID);
    signature.pop_back();
    EXPECT_EQ(Rsa::VerifySha256Pkcs1(Public(), data, signature), CKR_SIGNATURE_LEN_RANGE);
}

TEST_F(RsaKeyTest, PrivateKeyWithoutCrtComponentsStillSigns) {
    RsaKeyComponents bare{Key().modulus, Key().publicExponent, Key().privateExponent, {}, {}, {}, {}, {}};
    Bytes data(20, 9);
    EXPECT_EQ(Rsa::VerifyPkcs1Raw(Public(), data, Rsa::SignPkcs1Raw(Rsa::LoadPrivate(bare), data)), CKR_OK);
}

TEST(Rsa, RefusesUnusableParameters) {
    const std::pair<CK_ULONG, Bytes> badGeneration[] = {
        {512, {}}, {1023, {}}, {4097, {}}, {0, {}}, {1024, {0x02}}, {1024, {0x01}}, {1024, {0x00}},
        {1024, Bytes(9, 0x01)}};
    for (const auto& [bits, exponent] : badGeneration) {
        CK_RV rv = ErrorOf([&] { Rsa::Generate(bits, exponent); });
        EXPECT_TRUE(rv == CKR_KEY_SIZE_RANGE || rv == CKR_ATTRIBUTE_VALUE_INVALID) << bits << " " << ToHex(exponent);
    }
    EXPECT_EQ(ErrorOf([] { Rsa::Generate(1000, {}); }), CKR_KEY_SIZE_RANGE);
    EXPECT_EQ(ErrorOf([] { Rsa::Generate(1024, {0x04}); }), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(ErrorOf([] { Rsa::LoadPrivate({}); }), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(ErrorOf([] { Rsa::LoadPublic({}, {0x03}); }), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(ErrorOf([] { Rsa::LoadPublic(Bytes(128, 0xC1), {0x00}); }), CKR_ATTRIBUTE_VALUE_INVALID);
}

TEST(Rsa, ExponentWithLeadingZerosAndDefaultExponent) {
    EXPECT_EQ(Rsa::Generate(1024, {0x00, 0x00, 0x03}).publicExponent, Hex("03"));
    RsaKeyComponents key = Rsa::Generate(1024, {});
    EXPECT_EQ(key.publicExponent, Hex("010001"));
    EXPECT_EQ(key.modulus.size(), 128u);
}

// The PKCS#8 form is read back by OpenSSL's own decoder, and what OpenSSL encodes is read here.
TEST_F(RsaKeyTest, Pkcs8FormRoundTripsThroughOpenSsl) {
    const Bytes der = Rsa::ToPkcs8(Key());
    const unsigned char* in = der.data();
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> parsed(
        d2i_PrivateKey(EVP_PKEY_RSA, nullptr, &in, static_cast<long>(der.size())), EVP_PKEY_free);
    ASSERT_NE(parsed, nullptr);
    BIGNUM* d = nullptr;
    ASSERT_EQ(EVP_PKEY_get_bn_param(parsed.get(), "d", &d), 1);
    Bytes privateExponent(static_cast<size_t>(BN_num_bytes(d)));
    BN_bn2bin(d, privateExponent.data());
    BN_free(d);
    EXPECT_EQ(privateExponent, Key().privateExponent);

    unsigned char* out = nullptr;
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, decltype(&PKCS8_PRIV_KEY_INFO_free)> info(EVP_PKEY2PKCS8(parsed.get()),
                                                                                   PKCS8_PRIV_KEY_INFO_free);
    const int length = i2d_PKCS8_PRIV_KEY_INFO(info.get(), &out);
    ASSERT_GT(length, 0);
    const Bytes reencoded(out, out + length);
    OPENSSL_free(out);
    const RsaKeyComponents back = Rsa::FromPkcs8(reencoded);
    EXPECT_EQ(back.modulus, Key().modulus);
    EXPECT_EQ(back.privateExponent, Key().privateExponent);
    EXPECT_EQ(back.prime1, Key().prime1);
    EXPECT_EQ(back.coefficient, Key().coefficient);
}

TEST_F(RsaKeyTest, Pkcs8RefusesWhatIsNotOneRsaPrivateKey) {
    const Bytes der = Rsa::ToPkcs8(Key());
    Bytes trailing = der;
    trailing.push_back(0);
    Bytes truncated(der.begin(), der.end() - 1);
    const Bytes notDer(64, 0x30);
    for (const Bytes* bad : std::initializer_list<const Bytes*>{&trailing, &truncated, &notDer})
        EXPECT_EQ(ErrorOf([&] { Rsa::FromPkcs8(*bad); }), CKR_WRAPPED_KEY_INVALID);
    EXPECT_EQ(ErrorOf([] { Rsa::FromPkcs8({}); }), CKR_WRAPPED_KEY_INVALID);
    // An EC key's PrivateKeyInfo is well formed but no RSA key.
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> ec(EVP_EC_gen("P-256"), EVP_PKEY_free);
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, decltype(&PKCS8_PRIV_KEY_INFO_free)> info(EVP_PKEY2PKCS8(ec.get()),
                                                                                   PKCS8_PRIV_KEY_INFO_free);
    unsigned char* out = nullptr;
    const int length = i2d_PKCS8_PRIV_KEY_INFO(info.get(), &out);
    const Bytes ecDer(out, out + length);
    OPENSSL_free(out);
    EXPECT_EQ(ErrorOf([&] { Rsa::FromPkcs8(ecDer); }), CKR_WRAPPED_KEY_INVALID);
    // Without its CRT values a key has no complete RSAPrivateKey.
    RsaKeyComponents bare{Key().modulus, Key().publicExponent, Key().privateExponent, {}, {}, {}, {}, {}};
    EXPECT_EQ(ErrorOf([&] { Rsa::ToPkcs8(bare); }), CKR_KEY_NOT_WRAPPABLE);
}

// Hashing in parts gives the digest of the whole, for every hash the signatures use.
TEST(Rsa, HashInPartsEqualsTheDigestOfTheWhole) {
    const std::pair<CK_MECHANISM_TYPE, const EVP_MD*> hashes[] = {
        {CKM_SHA_1, EVP_sha1()}, {CKM_SHA224, EVP_sha224()}, {CKM_SHA256, EVP_sha256()},
        {CKM_SHA384, EVP_sha384()}, {CKM_SHA512, EVP_sha512()}};
    const Bytes data(1000, 0x5C);
    for (const auto& [mechanism, md] : hashes) {
        RsaHash hash(mechanism);
        hash.Update(data.data(), 1);
        hash.Update(data.data() + 1, 0);
        hash.Update(data.data() + 1, data.size() - 1);
        Bytes expected(static_cast<size_t>(EVP_MD_get_size(md)));
        EVP_Digest(data.data(), data.size(), expected.data(), nullptr, md, nullptr);
        EXPECT_EQ(hash.Final(), expected) << mechanism;
        EXPECT_EQ(RsaHash::Length(mechanism), expected.size());
    }
    EXPECT_EQ(ErrorOf([] { RsaHash hash(CKM_MD5); }), CKR_MECHANISM_INVALID);
}

}  // namespace
}  // namespace crypto::test
