// RSA key pairs and signatures, checked independently with OpenSSL from the public values
// the token hands out.
#include "RsaTestKeys.h"
#include "SoftTokenFixture.h"

#include <openssl/rsa.h>

#include <memory>

namespace softtoken_test {
namespace {

// PKCS #1 v1.5 over the raw data (no digest), or over SHA-256 with its DigestInfo.
bool OpenSslVerifies(EVP_PKEY* key, CK_MECHANISM_TYPE mechanism, const Bytes& data, const Bytes& signature) {
    if (mechanism == CKM_SHA256_RSA_PKCS) {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
        return EVP_DigestVerifyInit(md.get(), nullptr, EVP_sha256(), nullptr, key) == 1 &&
               EVP_DigestVerify(md.get(), signature.data(), signature.size(), data.data(), data.size()) == 1;
    }
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key, nullptr), EVP_PKEY_CTX_free);
    return EVP_PKEY_verify_init(ctx.get()) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
           EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), data.data(), data.size()) == 1;
}

Bytes TestData(size_t size) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<unsigned char>(i * 7 + 3);
    return data;
}

class RsaTest : public SoftTokenTest, public ::testing::WithParamInterface<CK_MECHANISM_TYPE> {};

TEST_P(RsaTest, SignaturesVerifyWithOpenSslAndACorruptByteFails) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    GenerateRsa(session, 1024, publicKey, privateKey);
    const CK_MECHANISM mechanism = {GetParam(), nullptr, 0};
    const Bytes data = TestData(32);
    Bytes signature;
    ASSERT_RV(CKR_OK, Sign(session, mechanism, privateKey, data, signature));
    ASSERT_EQ(128u, signature.size());

    Pkey key = PublicKeyOf(Attribute(session, publicKey, CKA_MODULUS), Attribute(session, publicKey, CKA_PUBLIC_EXPONENT));
    ASSERT_NE(nullptr, key);
    EXPECT_TRUE(OpenSslVerifies(key.get(), GetParam(), data, signature));
    EXPECT_RV(CKR_OK, Verify(session, mechanism, publicKey, data, signature));

    Bytes corrupt = signature;
    corrupt[40] ^= 0x01;
    EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, mechanism, publicKey, data, corrupt));
    Bytes otherData = data;
    otherData[0] ^= 0x80;
    EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, mechanism, publicKey, otherData, signature));
    Bytes shortSignature(signature.begin(), signature.end() - 1);
    EXPECT_RV(CKR_SIGNATURE_LEN_RANGE, Verify(session, mechanism, publicKey, data, shortSignature));
}

TEST_P(RsaTest, LengthProtocolKeepsTheOperationUntilItSucceeds) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    GenerateRsa(session, 1024, publicKey, privateKey);
    CK_MECHANISM mechanism = {GetParam(), nullptr, 0};
    Bytes data = TestData(32);
    ASSERT_RV(CKR_OK, f->C_SignInit(session, &mechanism, privateKey));
    EXPECT_RV(CKR_OPERATION_ACTIVE, f->C_SignInit(session, &mechanism, privateKey));
    CK_ULONG length = 0;
    ASSERT_RV(CKR_OK, f->C_Sign(session, data.data(), data.size(), nullptr, &length));
    EXPECT_EQ(128u, length);
    Bytes signature(length);
    CK_ULONG shortLength = 10;
    EXPECT_RV(CKR_BUFFER_TOO_SMALL, f->C_Sign(session, data.data(), data.size(), signature.data(), &shortLength));
    EXPECT_EQ(128u, shortLength);
    ASSERT_RV(CKR_OK, f->C_Sign(session, data.data(), data.size(), signature.data(), &length));
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, f->C_Sign(session, data.data(), data.size(), signature.data(), &length));
}

INSTANTIATE_TEST_SUITE_P(Mechanisms, RsaTest, ::testing::Values(CKM_RSA_PKCS, CKM_SHA256_RSA_PKCS));

TEST_F(SoftTokenTest, RsaKeyPairHasTheUtilitysAttributes) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    GenerateRsa(session, 1024, publicKey, privateKey);
    EXPECT_EQ(1024u, UlongAttribute(session, publicKey, CKA_MODULUS_BITS));
    EXPECT_EQ(128u, Attribute(session, publicKey, CKA_MODULUS).size());
    EXPECT_EQ((Bytes{1, 0, 1}), Attribute(session, publicKey, CKA_PUBLIC_EXPONENT));
    EXPECT_EQ(Bytes{CK_FALSE}, Attribute(session, publicKey, CKA_TOKEN));  // no CKA_TOKEN in its template
    EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, privateKey, CKA_TOKEN));
    EXPECT_EQ(Bytes{100}, Attribute(session, privateKey, CKA_ID));
    EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, privateKey, CKA_LOCAL));
    EXPECT_EQ(CKK_RSA, UlongAttribute(session, privateKey, CKA_KEY_TYPE));
    CK_ATTRIBUTE secret = {CKA_PRIVATE_EXPONENT, nullptr, 0};
    EXPECT_RV(CKR_ATTRIBUTE_SENSITIVE, f->C_GetAttributeValue(session, privateKey, &secret, 1));
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, secret.ulValueLen);

    // The utility finds its keys by class and identifier.
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_BYTE id = 100;
    EXPECT_EQ(std::vector<CK_OBJECT_HANDLE>{privateKey},
              Find(session, {{CKA_CLASS, &privateClass, sizeof privateClass}, {CKA_ID, &id, 1}}));
}

TEST_F(SoftTokenTest, RsaKeyUsageIsEnforced) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    GenerateRsa(session, 1024, publicKey, privateKey);
    CK_MECHANISM rsa = {CKM_RSA_PKCS, nullptr, 0};
    EXPECT_RV(CKR_KEY_TYPE_INCONSISTENT, f->C_SignInit(session, &rsa, publicKey));
    EXPECT_RV(CKR_KEY_TYPE_INCONSISTENT, f->C_VerifyInit(session, &rsa, privateKey));
    CK_MECHANISM mac = {CKM_GOST28147_MAC, nullptr, 0};
    EXPECT_RV(CKR_KEY_TYPE_INCONSISTENT, f->C_SignInit(session, &mac, privateKey));
    CK_MECHANISM unknown = {CKM_MD5_RSA_PKCS, nullptr, 0};
    EXPECT_RV(CKR_MECHANISM_INVALID, f->C_SignInit(session, &unknown, privateKey));
    CK_MECHANISM keyGen = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    EXPECT_RV(CKR_MECHANISM_INVALID, f->C_SignInit(session, &keyGen, privateKey));

    CK_ATTRIBUTE noSign = {CKA_SIGN, &Value::False, 1};
    ASSERT_RV(CKR_OK, f->C_SetAttributeValue(session, privateKey, &noSign, 1));
    EXPECT_RV(CKR_KEY_FUNCTION_NOT_PERMITTED, f->C_SignInit(session, &rsa, privateKey));

    // Raw PKCS #1 takes at most k - 11 bytes.
    CK_OBJECT_HANDLE otherPublic = 0, otherPrivate = 0;
    GenerateRsa(session, 1024, otherPublic, otherPrivate);
    Bytes signature;
    EXPECT_RV(CKR_OK, Sign(session, rsa, otherPrivate, TestData(117), signature));
    EXPECT_RV(CKR_DATA_LEN_RANGE, Sign(session, rsa, otherPrivate, TestData(118), signature));
}

TEST_F(SoftTokenTest, RsaKeySizesOutsideTheRangeAreRefused) {
    CK_SESSION_HANDLE session = LoginUser();
    for (CK_ULONG bits : {512ul, 8192ul}) {
        CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        CK_ATTRIBUTE publicTemplate[] = {{CKA_MODULUS_BITS, &bits, sizeof bits}};
        CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
        EXPECT_RV(CKR_KEY_SIZE_RANGE,
                  f->C_GenerateKeyPair(session, &mechanism, publicTemplate, 1, nullptr, 0, &publicKey, &privateKey));
    }
    CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    EXPECT_RV(CKR_TEMPLATE_INCOMPLETE, f->C_GenerateKeyPair(session, &mechanism, nullptr, 0, nullptr, 0, &publicKey,
                                                            &privateKey));
    EXPECT_TRUE(FindAll(session).empty());
}

TEST_F(SoftTokenTest, MultiPartSha256Signature) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    GenerateRsa(session, 1024, publicKey, privateKey);
    CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    Bytes data = TestData(100);
    ASSERT_RV(CKR_OK, f->C_SignInit(session, &mechanism, privateKey));
    ASSERT_RV(CKR_OK, f->C_SignUpdate(session, data.data(), 40));
    ASSERT_RV(CKR_OK, f->C_SignUpdate(session, data.data() + 40, 60));
    CK_ULONG length = 0;
    ASSERT_RV(CKR_OK, f->C_SignFinal(session, nullptr, &length));
    Bytes signature(length);
    ASSERT_RV(CKR_OK, f->C_SignFinal(session, signature.data(), &length));
    EXPECT_RV(CKR_OK, Verify(session, mechanism, publicKey, data, signature));
    ASSERT_RV(CKR_OK, f->C_VerifyInit(session, &mechanism, publicKey));
    ASSERT_RV(CKR_OK, f->C_VerifyUpdate(session, data.data(), 100));
    EXPECT_RV(CKR_OK, f->C_VerifyFinal(session, signature.data(), signature.size()));

    CK_MECHANISM raw = {CKM_RSA_PKCS, nullptr, 0};
    ASSERT_RV(CKR_OK, f->C_SignInit(session, &raw, privateKey));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, f->C_SignUpdate(session, data.data(), 10));
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, f->C_SignFinal(session, nullptr, &length));
}

}  // namespace
}  // namespace softtoken_test

namespace softtoken_test {
namespace {

TEST_F(SoftTokenTest, KeyGenerationNeedsTheUserAndLogoutEndsOperations) {
    InitToken();
    CK_SESSION_HANDLE session = Open();
    CK_MECHANISM generate = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_ULONG bits = 1024;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_MODULUS_BITS, &bits, sizeof bits}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_TOKEN, &Value::True, 1}};
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN,
              f->C_GenerateKeyPair(session, &generate, publicTemplate, 1, privateTemplate, 1, &publicKey, &privateKey));
    ASSERT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
    EXPECT_RV(CKR_SESSION_READ_ONLY, f->C_GenerateKeyPair(Open(false), &generate, publicTemplate, 1, privateTemplate, 1,
                                                          &publicKey, &privateKey));
    GenerateRsa(session, 1024, publicKey, privateKey);
    CK_MECHANISM rsa = {CKM_RSA_PKCS, nullptr, 0};
    ASSERT_RV(CKR_OK, f->C_SignInit(session, &rsa, privateKey));
    ASSERT_RV(CKR_OK, f->C_Logout(session));
    Bytes data(32, 1), signature(128);
    CK_ULONG length = signature.size();
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, f->C_Sign(session, data.data(), 32, signature.data(), &length));
    EXPECT_RV(CKR_KEY_HANDLE_INVALID, f->C_SignInit(session, &rsa, privateKey));
}

}  // namespace
}  // namespace softtoken_test
