// RSA signatures checked against OpenSSL's low-level RSA functions, a path independent of the
// EVP parameter code the crypto layer uses.
#include "TestSupport.h"
#include "crypto/Rsa.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
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

}  // namespace
}  // namespace crypto::test
