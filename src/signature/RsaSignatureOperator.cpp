#include "signature/RsaSignatureOperator.h"

#include <iostream>

namespace {

const char kPublicLabel[] = "An RSA public key object";
const char kPrivateLabel[] = "An RSA private key object";

}  // namespace

CRsaSignatureOperator::CRsaSignatureOperator()
{
    m_p12FilePath = "../conf/clientTest2.p12";
    m_p12Password = {'3', '5', '7'};
    m_base64CertificatePath = "../conf/ca.cer";
    m_derCertificatePath = "../conf/ca.crt";
}

CRsaSignatureOperator::~CRsaSignatureOperator() = default;

void CRsaSignatureOperator::GenerateKeyPair(int keySize)
{
    CheckToken();
    CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_BBOOL yes = CK_TRUE;
    CK_ULONG modulusBits = static_cast<CK_ULONG>(keySize);
    CK_BYTE publicExponent[] = {0x01, 0x00, 0x01};
    CK_BYTE id = m_keyPairId;
    char publicLabel[sizeof(kPublicLabel)];
    char privateLabel[sizeof(kPrivateLabel)];
    std::char_traits<char>::copy(publicLabel, kPublicLabel, sizeof(kPublicLabel));
    std::char_traits<char>::copy(privateLabel, kPrivateLabel, sizeof(kPrivateLabel));

    // No CKA_TOKEN on the public half: it takes the module's default, a session object.
    CK_ATTRIBUTE publicTemplate[] = {
        {CKA_ENCRYPT, &yes, sizeof(yes)},
        {CKA_VERIFY, &yes, sizeof(yes)},
        {CKA_WRAP, &yes, sizeof(yes)},
        {CKA_MODULUS_BITS, &modulusBits, sizeof(modulusBits)},
        {CKA_PUBLIC_EXPONENT, publicExponent, sizeof(publicExponent)},
        {CKA_ID, &id, sizeof(id)},
        {CKA_LABEL, publicLabel, sizeof(kPublicLabel) - 1},
    };
    CK_ATTRIBUTE privateTemplate[] = {
        {CKA_TOKEN, &yes, sizeof(yes)},
        {CKA_PRIVATE, &yes, sizeof(yes)},
        {CKA_SENSITIVE, &yes, sizeof(yes)},
        {CKA_DECRYPT, &yes, sizeof(yes)},
        {CKA_SIGN, &yes, sizeof(yes)},
        {CKA_UNWRAP, &yes, sizeof(yes)},
        {CKA_ID, &id, sizeof(id)},
        {CKA_LABEL, privateLabel, sizeof(kPrivateLabel) - 1},
    };
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
    ThrowIfFailed(m_pFunctionList->C_GenerateKeyPair(m_hSession, &mechanism, publicTemplate, 7, privateTemplate, 8,
                                                     &publicKey, &privateKey),
                  "CRsaSignatureOperator::GenerateKeyPair");
}

void CRsaSignatureOperator::GenerateSecretKey() {}

void CRsaSignatureOperator::CalculateAndVerifyMac() {}

void CRsaSignatureOperator::SignAndVerifyWithKey()
{
    SignAndVerifyWithKeyPair(CKM_RSA_PKCS, "CRsaSignatureOperator::SignAndVerifyWithKey");
}

void CRsaSignatureOperator::SignAndVerifyWithCertificate()
{
    CheckToken();
    const CK_OBJECT_HANDLE certificate = FindX509Certificate();
    std::vector<unsigned char> data = MakeTestData();
    const CK_C_KTL_SignWithCert signWithCert = VendorSignWithCert();
    const char* const operation = "CRsaSignatureOperator::SignAndVerifyWithCertificate";

    CK_ULONG length = 0;
    ThrowIfFailed(signWithCert(m_hSession, data.data(), data.size(), certificate, nullptr, &length, 0, 0, 0, 0),
                  operation);
    std::vector<unsigned char> signature(length);
    ThrowIfFailed(
        signWithCert(m_hSession, data.data(), data.size(), certificate, signature.data(), &length, 0, 0, 0, 0),
        operation);
    std::cout << "Data signed successfully." << "\n" << std::flush;

    const CK_RV rv = VendorVerifySignature()(signature.data(), signature.size(), data.data(), data.size());
    if (ReportVerification(rv, "CTokenOperator::SignData")) {
        std::cout << "Data verification successful." << "\n" << std::flush;
    }
}
