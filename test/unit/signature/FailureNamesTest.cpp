// Every module failure these operators raise, with the operation name it carries. The
// name is a fixed text per failure site, not always the raising method's own name.
#include <filesystem>

#include "SignatureTestSupport.h"
#include "support/CustomException.h"
#include "support/PKCSException.h"

namespace {

const char kPem[] = "-----BEGIN CERTIFICATE-----\nAQIDBA==\n-----END CERTIFICATE-----\n";

struct FailureCase {
    const char* title;
    const char* entry;
    int fromCall;
    void (*run)(COpenRsa&, COpenGost&);
    const char* expected;
};

class FailureNameTest : public SignatureOperatorTest, public ::testing::WithParamInterface<FailureCase> {
protected:
    void SetUp() override
    {
        SignatureOperatorTest::SetUp();
        AddKey(CKO_PUBLIC_KEY, kKeyPairId);
        AddKey(CKO_PRIVATE_KEY, kKeyPairId);
        AddKey(CKO_SECRET_KEY, kSecretKeyId);
        AddKey(CKO_CERTIFICATE, kCertificateId);
        fake::SetOutput("C_Sign", {0x0d, 0x7f, 0xd0, 0x89});
        // The operators read "../conf/" and write their CSR files into the working directory.
        const std::filesystem::path root = m_dir.Path();
        std::filesystem::create_directory(root / "conf");
        std::filesystem::create_directory(root / "run");
        for (const char* name : {"ca.crt", "ca_gost.crt", "clientTest2.p12", "clientGostA.p12"}) {
            WriteFileBytes((root / "conf" / name).string(), "\x30\x03\x02\x01\x05");
        }
        for (const char* name : {"ca.cer", "ca_gost.cer"}) {
            WriteFileBytes((root / "conf" / name).string(), kPem);
        }
        std::filesystem::current_path(root / "run");
        fake::ClearCalls();
    }

    ScopedWorkDir m_dir;
};

TEST_P(FailureNameTest, CarriesResultAndOperationName)
{
    const FailureCase& c = GetParam();
    fake::Fail(c.entry, CKR_DEVICE_ERROR, c.fromCall);
    ConsoleScript console;
    try {
        c.run(m_rsa, m_gost);
        FAIL() << "no exception";
    } catch (const CPKCSException& e) {
        EXPECT_EQ(e.m_rv, CKR_DEVICE_ERROR);
        EXPECT_EQ(e.m_function, c.expected);
    }
}

#define RUN(body) [](COpenRsa & rsa, COpenGost & gost) { (void)rsa; (void)gost; body; }

const char kCheck[] = "CTokenOperator::CheckToken";
const char kSearch[] = "CTokenOperator::SignData";
const char kCsr[] = "CRsaSignatureOperator::GenerateCSR";
const char kRsaKey[] = "CRsaSignatureOperator::SignAndVerifyWithKey";
const char kGostKey[] = "CGostSignatureOperator::SignAndVerifyWithKey";
const char kRsaCert[] = "CRsaSignatureOperator::SignAndVerifyWithCertificate";
const char kMac[] = "CGostSignatureOperator::CalculateAndVerifyMac";

const FailureCase kCases[] = {
    // The token check comes first in every token operation.
    {"RsaKeyPairCheck", "C_GetTokenInfo", 1, RUN(rsa.GenerateKeyPair(1024)), kCheck},
    {"GostKeyPairCheck", "C_GetTokenInfo", 1, RUN(gost.GenerateKeyPair(0)), kCheck},
    {"RsaSignKeyCheck", "C_GetTokenInfo", 1, RUN(rsa.SignAndVerifyWithKey()), kCheck},
    {"GostSignKeyCheck", "C_GetTokenInfo", 1, RUN(gost.SignAndVerifyWithKey()), kCheck},
    {"RsaSignCertCheck", "C_GetTokenInfo", 1, RUN(rsa.SignAndVerifyWithCertificate()), kCheck},
    {"SecretKeyCheck", "C_GetTokenInfo", 1, RUN(gost.GenerateSecretKey()), kCheck},
    {"StoreKeyCheck", "C_GetTokenInfo", 1, RUN(gost.StoreSecretKey()), kCheck},
    {"MacCheck", "C_GetTokenInfo", 1, RUN(gost.CalculateAndVerifyMac()), kCheck},
    {"CsrCheck", "C_GetTokenInfo", 1, RUN(rsa.GenerateCSR()), kCheck},
    {"DerImportCheck", "C_GetTokenInfo", 1, RUN(rsa.LoadX509CertificateDER()), kCheck},
    {"PemImportCheck", "C_GetTokenInfo", 1, RUN(gost.LoadX509CertificateBase64()), kCheck},
    {"P12ImportCheck", "C_GetTokenInfo", 1, RUN(rsa.LoadCertificateWithKey()), kCheck},
    // Key generation and storage.
    {"RsaKeyPair", "C_GenerateKeyPair", 1, RUN(rsa.GenerateKeyPair(2048)), "CRsaSignatureOperator::GenerateKeyPair"},
    {"GostKeyPair", "C_GenerateKeyPair", 1, RUN(gost.GenerateKeyPair(0)), "CGostSignatureOperator::GenerateKeyPair"},
    {"SecretKey", "C_GenerateKey", 1, RUN(gost.GenerateSecretKey()), "CGostSignatureOperator::GenerateSecretKey"},
    {"StoreKey", "C_CreateObject", 1, RUN(gost.StoreSecretKey()), "CGostSignatureOperator::StoreSecretKey"},
    // Signatures with the key pair.
    {"RsaSignInit", "C_SignInit", 1, RUN(rsa.SignAndVerifyWithKey()), kRsaKey},
    {"RsaSizeQuery", "C_Sign", 1, RUN(rsa.SignAndVerifyWithKey()), kRsaKey},
    {"RsaSign", "C_Sign", 2, RUN(rsa.SignAndVerifyWithKey()), kRsaKey},
    {"RsaVerifyInit", "C_VerifyInit", 1, RUN(rsa.SignAndVerifyWithKey()), kRsaKey},
    {"GostSignInit", "C_SignInit", 1, RUN(gost.SignAndVerifyWithKey()), kGostKey},
    {"GostSizeQuery", "C_Sign", 1, RUN(gost.SignAndVerifyWithKey()), kGostKey},
    {"GostSign", "C_Sign", 2, RUN(gost.SignAndVerifyWithKey()), kGostKey},
    {"GostVerifyInit", "C_VerifyInit", 1, RUN(gost.SignAndVerifyWithKey()), kGostKey},
    // Signature with the certificate.
    {"CertSizeQuery", "C_KTL_SignWithCert", 1, RUN(rsa.SignAndVerifyWithCertificate()), kRsaCert},
    {"CertSign", "C_KTL_SignWithCert", 2, RUN(rsa.SignAndVerifyWithCertificate()), kRsaCert},
    // MAC.
    {"MacSignInit", "C_SignInit", 1, RUN(gost.CalculateAndVerifyMac()), kMac},
    {"MacSizeQuery", "C_Sign", 1, RUN(gost.CalculateAndVerifyMac()), kMac},
    {"MacSign", "C_Sign", 2, RUN(gost.CalculateAndVerifyMac()), kMac},
    // CSR: both operators report under the RSA operator's name.
    {"RsaCsrSizeQuery", "C_KTL_CreateCSR", 1, RUN(rsa.GenerateCSR()), kCsr},
    {"RsaCsr", "C_KTL_CreateCSR", 2, RUN(rsa.GenerateCSR()), kCsr},
    {"GostCsrSizeQuery", "C_KTL_CreateCSR", 1, RUN(gost.GenerateCSR()), kCsr},
    {"GostCsr", "C_KTL_CreateCSR", 2, RUN(gost.GenerateCSR()), kCsr},
    // Imports.
    {"DerImport", "C_KTL_LoadX509Cert", 1, RUN(rsa.LoadX509CertificateDER()),
     "CBaseSignatureOperator::LoadX509CertificateDER"},
    {"PemImport", "C_KTL_LoadX509Cert", 1, RUN(gost.LoadX509CertificateBase64()),
     "CBaseSignatureOperator::LoadCertificateBase64"},
    {"P12Import", "C_KTL_LoadCert", 1, RUN(gost.LoadCertificateWithKey()),
     "C_KTL_LoadCert in CBaseSignatureOperator::LoadCertificateWithKey"},
    // Every search, whoever asks, reports the same name.
    {"DeletePairInit", "C_FindObjectsInit", 1, RUN(rsa.DeleteKeyPair()), kSearch},
    {"DeletePairSecondSearch", "C_FindObjects", 2, RUN(gost.DeleteKeyPair()), kSearch},
    {"DeleteSecret", "C_FindObjects", 1, RUN(gost.DeleteSecretKey()), kSearch},
    {"DeleteCertificate", "C_FindObjects", 1, RUN(rsa.DeleteX509Certificate()), kSearch},
    {"CertSignSearch", "C_FindObjects", 1, RUN(rsa.SignAndVerifyWithCertificate()), kSearch},
    {"KeySignSearch", "C_FindObjectsInit", 2, RUN(gost.SignAndVerifyWithKey()), kSearch},
    {"CsrSearch", "C_FindObjects", 1, RUN(rsa.GenerateCSR()), kSearch},
    {"MacSearch", "C_FindObjectsInit", 1, RUN(gost.CalculateAndVerifyMac()), kSearch},
};

#undef RUN

INSTANTIATE_TEST_SUITE_P(Sites, FailureNameTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.title); });

}  // namespace

// A module whose list lacks a vendor entry gets a named error instead of a call through null.
TEST_F(SignatureOperatorTest, MissingVendorEntryIsNamed)
{
    AddKey(CKO_PUBLIC_KEY, kKeyPairId);
    AddKey(CKO_PRIVATE_KEY, kKeyPairId);
    AddKey(CKO_CERTIFICATE, kCertificateId);
    CK_KTL_FUNCTION_LIST list = *reinterpret_cast<const CK_KTL_FUNCTION_LIST*>(m_owner.FunctionList());
    m_rsa.Initialize(m_owner.ModuleHandle(), &list.standard);

    struct Case {
        void (*clear)(CK_KTL_FUNCTION_LIST&);
        void (CRsaSignatureOperator::*run)();
        const char* message;
    };
    const Case cases[] = {
        {[](CK_KTL_FUNCTION_LIST& l) { l.C_KTL_CreateCSR = nullptr; }, &CRsaSignatureOperator::GenerateCSR,
         "Function \"C_KTL_CreateCSR\" was not found in PKCS library."},
        {[](CK_KTL_FUNCTION_LIST& l) { l.C_KTL_SignWithCert = nullptr; },
         &CRsaSignatureOperator::SignAndVerifyWithCertificate,
         "Function \"C_KTL_SignWithCert\" was not found in PKCS library."},
        {[](CK_KTL_FUNCTION_LIST& l) { l.C_KTL_VerifySignature = nullptr; },
         &CRsaSignatureOperator::SignAndVerifyWithCertificate,
         "Function \"C_KTL_VerifySignature\" was not found in PKCS library."},
    };
    const CK_KTL_FUNCTION_LIST complete = list;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        list = complete;
        c.clear(list);
        ConsoleScript console;
        try {
            (m_rsa.*c.run)();
            ADD_FAILURE() << "no exception";
        } catch (const CustomException& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}
