// Key generation and key storage: templates byte for byte as the module received them,
// mechanisms and counts.
#include "SignatureTestSupport.h"

using fake::Bool;
using fake::Byte;
using fake::Raw;
using fake::Text;
using fake::Ulong;

namespace {

const fake::Bytes kGostParams = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1F, 0x01};
const fake::Bytes kStoredKey = {0x2c, 0x1a, 0x7f, 0x3e, 0x9b, 0x4d, 0x6e, 0x8f, 0x0a, 0x5b, 0x3c,
                                0x2d, 0x1e, 0x4f, 0x6a, 0x7b, 0x8c, 0x9d, 0x0e, 0x1f, 0x2a, 0x3b,
                                0x4c, 0x5d, 0x6e, 0x7f, 0x80, 0x91, 0xa2, 0xb3, 0xc4, 0xd5};

std::vector<fake::Attribute> SecretKeyTemplate()
{
    return {Ulong(CKA_CLASS, CKO_SECRET_KEY), Ulong(CKA_KEY_TYPE, CKK_GOST28147), Bool(CKA_TOKEN, true),
            Byte(CKA_ID, 200),        Bool(CKA_ENCRYPT, true), Bool(CKA_DECRYPT, true),
            Bool(CKA_WRAP, true),     Bool(CKA_UNWRAP, true),  Bool(CKA_EXTRACTABLE, false),
            Raw(CKA_GOST28147_PARAMS, kGostParams)};
}

}  // namespace

class RsaKeyPairTest : public SignatureOperatorTest, public ::testing::WithParamInterface<int> {};

TEST_P(RsaKeyPairTest, SendsBothTemplatesByteForByte)
{
    const int bits = GetParam();
    m_rsa.GenerateKeyPair(bits);

    const auto calls = CallsNamed("C_GenerateKeyPair");
    ASSERT_EQ(calls.size(), 1u);
    const fake::Call& call = calls[0];
    EXPECT_EQ(call.mechanism, CKM_RSA_PKCS_KEY_PAIR_GEN);
    EXPECT_TRUE(call.mechanismParameter.empty());
    EXPECT_EQ(call.args, (std::vector<CK_ULONG>{m_session, 7, 8}));
    ASSERT_EQ(call.templates.size(), 2u);
    EXPECT_EQ(Describe(call.templates[0]),
              Describe({Bool(CKA_ENCRYPT, true), Bool(CKA_VERIFY, true), Bool(CKA_WRAP, true),
                        Ulong(CKA_MODULUS_BITS, static_cast<CK_ULONG>(bits)),
                        Raw(CKA_PUBLIC_EXPONENT, {0x01, 0x00, 0x01}), Byte(CKA_ID, 100),
                        Text(CKA_LABEL, "An RSA public key object")}));
    EXPECT_EQ(Describe(call.templates[1]),
              Describe({Bool(CKA_TOKEN, true), Bool(CKA_PRIVATE, true), Bool(CKA_SENSITIVE, true),
                        Bool(CKA_DECRYPT, true), Bool(CKA_SIGN, true), Bool(CKA_UNWRAP, true), Byte(CKA_ID, 100),
                        Text(CKA_LABEL, "An RSA private key object")}));
}

INSTANTIATE_TEST_SUITE_P(ModulusSizes, RsaKeyPairTest, ::testing::Values(1024, 2048), ::testing::PrintToStringParamName());

class GostKeyPairTest : public SignatureOperatorTest, public ::testing::WithParamInterface<int> {};

TEST_P(GostKeyPairTest, TemplatesDoNotDependOnTheArgument)
{
    m_gost.GenerateKeyPair(GetParam());

    const auto calls = CallsNamed("C_GenerateKeyPair");
    ASSERT_EQ(calls.size(), 1u);
    const fake::Call& call = calls[0];
    EXPECT_EQ(call.mechanism, CKM_GOSTR3410_KEY_PAIR_GEN);
    EXPECT_TRUE(call.mechanismParameter.empty());
    EXPECT_EQ(call.args, (std::vector<CK_ULONG>{m_session, 6, 8}));
    ASSERT_EQ(call.templates.size(), 2u);
    EXPECT_EQ(Describe(call.templates[0]),
              Describe({Ulong(CKA_CLASS, CKO_PUBLIC_KEY), Bool(CKA_TOKEN, true), Bool(CKA_ENCRYPT, true),
                        Bool(CKA_VERIFY, true), Bool(CKA_WRAP, true), Byte(CKA_ID, 100)}));
    EXPECT_EQ(Describe(call.templates[1]),
              Describe({Ulong(CKA_CLASS, CKO_PRIVATE_KEY), Bool(CKA_TOKEN, true), Bool(CKA_PRIVATE, true),
                        Bool(CKA_SENSITIVE, true), Bool(CKA_DECRYPT, true), Bool(CKA_SIGN, true),
                        Bool(CKA_UNWRAP, true), Byte(CKA_ID, 100)}));
}

INSTANTIATE_TEST_SUITE_P(AnyInteger, GostKeyPairTest, ::testing::Values(0, 1, 256, 2048), ::testing::PrintToStringParamName());

TEST_F(SignatureOperatorTest, GeneratedSecretKeyHasTenAttributesWithoutValue)
{
    m_gost.GenerateSecretKey();

    const auto calls = CallsNamed("C_GenerateKey");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].mechanism, CKM_GOST28147_KEY_GEN);
    EXPECT_TRUE(calls[0].mechanismParameter.empty());
    EXPECT_EQ(calls[0].args, (std::vector<CK_ULONG>{m_session, 10}));
    ASSERT_EQ(calls[0].templates.size(), 1u);
    EXPECT_EQ(Describe(calls[0].templates[0]), Describe(SecretKeyTemplate()));
}

TEST_F(SignatureOperatorTest, StoredSecretKeyAppendsTheFixedValue)
{
    m_gost.StoreSecretKey();

    const auto calls = CallsNamed("C_CreateObject");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, (std::vector<CK_ULONG>{m_session, 11}));
    std::vector<fake::Attribute> expected = SecretKeyTemplate();
    expected.push_back(Raw(CKA_VALUE, kStoredKey));
    ASSERT_EQ(calls[0].templates.size(), 1u);
    EXPECT_EQ(Describe(calls[0].templates[0]), Describe(expected));
}
