// Signing and verification: the data and lengths the module receives, the two-call length
// protocol, and how each verification result is reported.
#include <cstdlib>
#include <functional>
#include <optional>
#include <stdexcept>
#include <tuple>

#include "SignatureTestSupport.h"
#include "support/CustomException.h"
#include "support/PKCSException.h"

namespace {

// The 32 bytes the operators draw from rand after srand(seed).
fake::Bytes RandomBytesAfterSeed(unsigned seed)
{
    std::srand(seed);
    fake::Bytes data(32);
    for (unsigned char& byte : data) {
        byte = static_cast<unsigned char>(std::rand() & 0xFF);
    }
    std::srand(seed);
    return data;
}

const char kMismatch[] = "Data verification failed: signature doesn't match\n";
const char kLengthMismatch[] = "Data verification failed: signature length doesn't match\n";

}  // namespace

// ---- Signatures with the key pair, for both operators ---------------------------------

struct KeyPairCase {
    const char* name;
    bool gost;
    CK_MECHANISM_TYPE mechanism;
    const char* operation;
};

class KeyPairSignatureTest : public SignatureOperatorTest, public ::testing::WithParamInterface<KeyPairCase> {
protected:
    void SetUp() override
    {
        SignatureOperatorTest::SetUp();
        m_public = AddKey(CKO_PUBLIC_KEY, kKeyPairId);
        m_private = AddKey(CKO_PRIVATE_KEY, kKeyPairId);
        fake::ClearCalls();
    }
    CBaseSignatureOperator& Operator() { return GetParam().gost ? static_cast<CBaseSignatureOperator&>(m_gost) : m_rsa; }

    CK_OBJECT_HANDLE m_public = 0;
    CK_OBJECT_HANDLE m_private = 0;
};

TEST_P(KeyPairSignatureTest, SignsRandomDataWithPrivateKeyAndVerifiesWithPublicKey)
{
    const fake::Bytes signature = {0xDE, 0xAD, 0xBE, 0xEF, 0x01};
    fake::SetOutput("C_Sign", signature);
    const fake::Bytes data = RandomBytesAfterSeed(11);
    ConsoleScript console;

    Operator().SignAndVerifyWithKey();

    EXPECT_EQ(console.Output(), "");
    const auto signInit = CallsNamed("C_SignInit");
    ASSERT_EQ(signInit.size(), 1u);
    EXPECT_EQ(signInit[0].args, (std::vector<CK_ULONG>{m_session, m_private}));
    EXPECT_EQ(signInit[0].mechanism, GetParam().mechanism);
    EXPECT_TRUE(signInit[0].mechanismParameter.empty());

    const auto sign = CallsNamed("C_Sign");
    ASSERT_EQ(sign.size(), 2u);
    EXPECT_TRUE(sign[0].outputNull);
    EXPECT_EQ(sign[0].args, (std::vector<CK_ULONG>{m_session, 0}));
    EXPECT_FALSE(sign[1].outputNull);
    EXPECT_EQ(sign[1].args, (std::vector<CK_ULONG>{m_session, signature.size()}));
    for (const fake::Call& call : sign) {
        EXPECT_EQ(call.buffers.at(0), data);
    }

    const auto verifyInit = CallsNamed("C_VerifyInit");
    ASSERT_EQ(verifyInit.size(), 1u);
    EXPECT_EQ(verifyInit[0].args, (std::vector<CK_ULONG>{m_session, m_public}));
    EXPECT_EQ(verifyInit[0].mechanism, GetParam().mechanism);
    const auto verify = CallsNamed("C_Verify");
    ASSERT_EQ(verify.size(), 1u);
    EXPECT_EQ(verify[0].buffers.at(0), data);
    EXPECT_EQ(verify[0].buffers.at(1), signature);
}

TEST_P(KeyPairSignatureTest, ZeroLengthSignatureTravelsAsEmptyBuffer)
{
    fake::SetReportedLength("C_Sign", 0);
    Operator().SignAndVerifyWithKey();

    const auto sign = CallsNamed("C_Sign");
    ASSERT_EQ(sign.size(), 2u);
    EXPECT_EQ(sign[1].args, (std::vector<CK_ULONG>{m_session, 0}));
    const auto verify = CallsNamed("C_Verify");
    ASSERT_EQ(verify.size(), 1u);
    const auto& passed = verify[0].buffers.at(1);
    EXPECT_TRUE(!passed.has_value() || passed->empty());
}

TEST_P(KeyPairSignatureTest, UnallocatableLengthSurfacesAsStandardException)
{
    fake::SetReportedLength("C_Sign", ~CK_ULONG(0));
    EXPECT_THROW(Operator().SignAndVerifyWithKey(), std::length_error);
    EXPECT_EQ(CallsNamed("C_Sign").size(), 1u);
    EXPECT_TRUE(CallsNamed("C_Verify").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Operators, KeyPairSignatureTest,
    ::testing::Values(KeyPairCase{"Rsa", false, CKM_RSA_PKCS, "CRsaSignatureOperator::SignAndVerifyWithKey"},
                      KeyPairCase{"Gost", true, CKM_GOSTR3410, "CGostSignatureOperator::SignAndVerifyWithKey"}),
    [](const ::testing::TestParamInfo<KeyPairCase>& info) { return std::string(info.param.name); });

struct VerificationOutcome {
    CK_RV rv;
    std::string printed;
    bool raised;
};

class KeyPairVerificationTest : public SignatureOperatorTest,
                                public ::testing::WithParamInterface<std::tuple<KeyPairCase, VerificationOutcome>> {};

TEST_P(KeyPairVerificationTest, ResultIsPrintedOrRaised)
{
    const KeyPairCase& operatorCase = std::get<0>(GetParam());
    const VerificationOutcome& outcome = std::get<1>(GetParam());
    AddKey(CKO_PUBLIC_KEY, kKeyPairId);
    AddKey(CKO_PRIVATE_KEY, kKeyPairId);
    if (outcome.rv != CKR_OK) {
        fake::Fail("C_Verify", outcome.rv);
    }
    CBaseSignatureOperator& op = operatorCase.gost ? static_cast<CBaseSignatureOperator&>(m_gost) : m_rsa;
    ConsoleScript console;
    try {
        op.SignAndVerifyWithKey();
        EXPECT_FALSE(outcome.raised);
    } catch (const CPKCSException& e) {
        EXPECT_TRUE(outcome.raised);
        EXPECT_EQ(e.m_rv, outcome.rv);
        EXPECT_EQ(e.m_function, operatorCase.operation);
    }
    EXPECT_EQ(console.Output(), outcome.printed);
}

INSTANTIATE_TEST_SUITE_P(
    OperatorsAndResults, KeyPairVerificationTest,
    ::testing::Combine(
        ::testing::Values(KeyPairCase{"Rsa", false, CKM_RSA_PKCS, "CRsaSignatureOperator::SignAndVerifyWithKey"},
                          KeyPairCase{"Gost", true, CKM_GOSTR3410, "CGostSignatureOperator::SignAndVerifyWithKey"}),
        ::testing::Values(VerificationOutcome{CKR_OK, "", false},
                          VerificationOutcome{CKR_SIGNATURE_INVALID, kMismatch, false},
                          VerificationOutcome{CKR_SIGNATURE_LEN_RANGE, kLengthMismatch, false},
                          VerificationOutcome{CKR_GENERAL_ERROR, "", true},
                          VerificationOutcome{CKR_DATA_LEN_RANGE, "", true})),
    [](const ::testing::TestParamInfo<std::tuple<KeyPairCase, VerificationOutcome>>& info) {
        return std::string(std::get<0>(info.param).name) + "_rv" + std::to_string(std::get<1>(info.param).rv);
    });

// ---- Signatures with the certificate (RSA operator) --------------------------------------

class CertificateSignatureTest : public SignatureOperatorTest {
protected:
    void SetUp() override
    {
        SignatureOperatorTest::SetUp();
        m_certificate = AddKey(CKO_CERTIFICATE, kCertificateId);
        fake::ClearCalls();
    }
    CK_OBJECT_HANDLE m_certificate = 0;
};

TEST_F(CertificateSignatureTest, SignsWithTheCertificateAndReportsBothSteps)
{
    const fake::Bytes signature(77, 0x5A);
    fake::SetOutput("C_KTL_SignWithCert", signature);
    const fake::Bytes data = RandomBytesAfterSeed(23);
    ConsoleScript console;

    m_rsa.SignAndVerifyWithCertificate();

    EXPECT_EQ(console.Output(), "Data signed successfully.\nData verification successful.\n");
    const auto sign = CallsNamed("C_KTL_SignWithCert");
    ASSERT_EQ(sign.size(), 2u);
    EXPECT_TRUE(sign[0].outputNull);
    EXPECT_EQ(sign[0].args, (std::vector<CK_ULONG>{m_session, m_certificate, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(sign[1].outputNull);
    EXPECT_EQ(sign[1].args, (std::vector<CK_ULONG>{m_session, m_certificate, signature.size(), 0, 0, 0, 0}));
    EXPECT_EQ(sign[0].buffers.at(0), data);
    EXPECT_EQ(sign[1].buffers.at(0), data);
    const auto verify = CallsNamed("C_KTL_VerifySignature");
    ASSERT_EQ(verify.size(), 1u);
    EXPECT_EQ(verify[0].buffers.at(0), signature);
    EXPECT_EQ(verify[0].buffers.at(1), data);
}

class CertificateVerificationTest : public CertificateSignatureTest,
                                   public ::testing::WithParamInterface<VerificationOutcome> {};

TEST_P(CertificateVerificationTest, ResultIsPrintedOrRaised)
{
    const VerificationOutcome& outcome = GetParam();
    if (outcome.rv != CKR_OK) {
        fake::Fail("C_KTL_VerifySignature", outcome.rv);
    }
    ConsoleScript console;
    try {
        m_rsa.SignAndVerifyWithCertificate();
        EXPECT_FALSE(outcome.raised);
    } catch (const CPKCSException& e) {
        EXPECT_TRUE(outcome.raised);
        EXPECT_EQ(e.m_rv, outcome.rv);
        EXPECT_EQ(e.m_function, "CTokenOperator::SignData");
    }
    EXPECT_EQ(console.Output(), "Data signed successfully.\n" + outcome.printed);
}

INSTANTIATE_TEST_SUITE_P(Results, CertificateVerificationTest,
                         ::testing::Values(VerificationOutcome{CKR_OK, "Data verification successful.\n", false},
                                           VerificationOutcome{CKR_SIGNATURE_INVALID, kMismatch, false},
                                           VerificationOutcome{CKR_SIGNATURE_LEN_RANGE, kLengthMismatch, false},
                                           VerificationOutcome{CKR_FUNCTION_FAILED, "", true}),
                         [](const ::testing::TestParamInfo<VerificationOutcome>& info) {
                             return "rv" + std::to_string(info.param.rv);
                         });

TEST_F(SignatureOperatorTest, CertificateLookupComesBeforeDataAndSigning)
{
    std::srand(31);
    const int firstValue = std::rand();
    std::srand(31);
    ConsoleScript console;

    try {
        m_rsa.SignAndVerifyWithCertificate();
        FAIL() << "no exception";
    } catch (const CustomException& e) {
        EXPECT_STREQ(e.what(), "Object not found");
    }
    EXPECT_EQ(console.Output(), "");
    EXPECT_TRUE(CallsNamed("C_KTL_SignWithCert").empty());
    EXPECT_EQ(std::rand(), firstValue);
}

// ---- GOST 28147-89 MAC -------------------------------------------------------------------

class MacTest : public SignatureOperatorTest {
protected:
    void SetUp() override
    {
        SignatureOperatorTest::SetUp();
        m_key = AddKey(CKO_SECRET_KEY, kSecretKeyId);
        fake::ClearCalls();
    }
    CK_OBJECT_HANDLE m_key = 0;
};

TEST_F(MacTest, RightMacPassesSilently)
{
    fake::SetOutput("C_Sign", {0x0d, 0x7f, 0xd0, 0x89});
    ConsoleScript console;

    m_gost.CalculateAndVerifyMac();

    EXPECT_EQ(console.Output(), "");
    const auto signInit = CallsNamed("C_SignInit");
    ASSERT_EQ(signInit.size(), 1u);
    EXPECT_EQ(signInit[0].args, (std::vector<CK_ULONG>{m_session, m_key}));
    EXPECT_EQ(signInit[0].mechanism, CKM_GOST28147_MAC);
    EXPECT_TRUE(signInit[0].mechanismParameter.empty());
    const fake::Bytes data = {0xC2, 0xF1, 0xB8, 0x20, 0xF1, 0xEE, 0xF1, 0xF2, 0xE0, 0xE2, 0xED, 0xEE, 0xE5,
                              0x20, 0xED, 0xE5, 0xEF, 0xEE, 0xF1, 0xF2, 0xEE, 0xFF, 0xED, 0xED, 0xEE};
    const auto sign = CallsNamed("C_Sign");
    ASSERT_EQ(sign.size(), 2u);
    EXPECT_TRUE(sign[0].outputNull);
    EXPECT_EQ(sign[1].args, (std::vector<CK_ULONG>{m_session, 4}));
    EXPECT_EQ(sign[0].buffers.at(0), data);
    EXPECT_EQ(sign[1].buffers.at(0), data);
}

struct MacCase {
    fake::Bytes output;
    std::optional<CK_ULONG> reportedLength;
    const char* message;
    size_t signCalls;
};

class MacFailureTest : public MacTest, public ::testing::WithParamInterface<MacCase> {};

TEST_P(MacFailureTest, WrongMacOrLengthIsATestFailure)
{
    const MacCase& c = GetParam();
    fake::SetOutput("C_Sign", c.output);
    if (c.reportedLength) {
        fake::SetReportedLength("C_Sign", *c.reportedLength);
    }
    try {
        m_gost.CalculateAndVerifyMac();
        ADD_FAILURE() << "no exception";
    } catch (const CustomException& e) {
        EXPECT_STREQ(e.what(), c.message);
    }
    // A wrong length is caught before the MAC is asked for.
    EXPECT_EQ(CallsNamed("C_Sign").size(), c.signCalls);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, MacFailureTest,
    ::testing::Values(MacCase{{0x0d, 0x7f, 0xd0, 0x88}, std::nullopt, "Signature is wrong.", 2},
                      MacCase{{0x8d, 0x7f, 0xd0, 0x89}, std::nullopt, "Signature is wrong.", 2},
                      MacCase{{0x0d, 0x7f, 0xd0, 0x89, 0, 0, 0, 0}, std::nullopt, "Wrong signature length.", 1},
                      MacCase{{0x0d, 0x7f, 0xd0, 0x89}, CK_ULONG(8), "Wrong signature length.", 1},
                      MacCase{{0x0d, 0x7f, 0xd0, 0x89}, CK_ULONG(0), "Wrong signature length.", 1}),
    [](const ::testing::TestParamInfo<MacCase>& info) { return "case" + std::to_string(info.index); });
