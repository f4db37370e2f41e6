#include "signature/GostSignatureOperator.h"

#include <algorithm>
#include <iterator>

#include "support/CustomException.h"

namespace {

// DER encoding of 1.2.643.2.2.31.1, the CryptoPro-A parameter set of GOST 28147-89.
const CK_BYTE kGost28147Params[] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1F, 0x01};

// The stored key and the MAC that CKM_GOST28147_MAC (zero IV, CryptoPro-A) gives with it
// over the test data.
const CK_BYTE kStoredKey[] = {0x2c, 0x1a, 0x7f, 0x3e, 0x9b, 0x4d, 0x6e, 0x8f, 0x0a, 0x5b, 0x3c,
                              0x2d, 0x1e, 0x4f, 0x6a, 0x7b, 0x8c, 0x9d, 0x0e, 0x1f, 0x2a, 0x3b,
                              0x4c, 0x5d, 0x6e, 0x7f, 0x80, 0x91, 0xa2, 0xb3, 0xc4, 0xd5};
const CK_BYTE kMacData[] = {0xC2, 0xF1, 0xB8, 0x20, 0xF1, 0xEE, 0xF1, 0xF2, 0xE0, 0xE2, 0xED, 0xEE, 0xE5,
                            0x20, 0xED, 0xE5, 0xEF, 0xEE, 0xF1, 0xF2, 0xEE, 0xFF, 0xED, 0xED, 0xEE};
const CK_BYTE kExpectedMac[] = {0x0d, 0x7f, 0xd0, 0x89};

// The attribute values of the secret key templates, in the frame of the operation that
// uses them; the attribute array points into this object, so it is neither copied nor moved.
struct SecretKeyTemplate {
    explicit SecretKeyTemplate(CK_BYTE keyId) : id(keyId)
    {
        std::copy(std::begin(kGost28147Params), std::end(kGost28147Params), params);
        std::copy(std::begin(kStoredKey), std::end(kStoredKey), value);
    }
    SecretKeyTemplate(const SecretKeyTemplate&) = delete;
    SecretKeyTemplate& operator=(const SecretKeyTemplate&) = delete;

    CK_OBJECT_CLASS keyClass = CKO_SECRET_KEY;
    CK_KEY_TYPE keyType = CKK_GOST28147;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    CK_BYTE id;
    CK_BYTE params[sizeof(kGost28147Params)];
    CK_BYTE value[sizeof(kStoredKey)];
    // The first ten serve key generation; the eleventh carries the stored key's value.
    CK_ATTRIBUTE attributes[11] = {
        {CKA_CLASS, &keyClass, sizeof(keyClass)},
        {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
        {CKA_TOKEN, &yes, sizeof(yes)},
        {CKA_ID, &id, sizeof(id)},
        {CKA_ENCRYPT, &yes, sizeof(yes)},
        {CKA_DECRYPT, &yes, sizeof(yes)},
        {CKA_WRAP, &yes, sizeof(yes)},
        {CKA_UNWRAP, &yes, sizeof(yes)},
        {CKA_EXTRACTABLE, &no, sizeof(no)},
        {CKA_GOST28147_PARAMS, params, sizeof(params)},
        {CKA_VALUE, value, sizeof(value)},
    };
};

}  // namespace

CGostSignatureOperator::CGostSignatureOperator()
{
    m_p12FilePath = "../conf/clientGostA.p12";
    m_p12Password = {'3', '5', '7'};
    m_base64CertificatePath = "../conf/ca_gost.cer";
    m_derCertificatePath = "../conf/ca_gost.crt";
}

CGostSignatureOperator::~CGostSignatureOperator() = default;

void CGostSignatureOperator::GenerateKeyPair(int /*keySize: GOST R 34.10 has no size choice*/)
{
    CheckToken();
    CK_MECHANISM mechanism = {CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_BBOOL yes = CK_TRUE;
    CK_BYTE id = m_keyPairId;

    // No parameter set is named: the module's defaults apply.
    CK_ATTRIBUTE publicTemplate[] = {
        {CKA_CLASS, &publicClass, sizeof(publicClass)},
        {CKA_TOKEN, &yes, sizeof(yes)},
        {CKA_ENCRYPT, &yes, sizeof(yes)},
        {CKA_VERIFY, &yes, sizeof(yes)},
        {CKA_WRAP, &yes, sizeof(yes)},
        {CKA_ID, &id, sizeof(id)},
    };
    CK_ATTRIBUTE privateTemplate[] = {
        {CKA_CLASS, &privateClass, sizeof(privateClass)},
        {CKA_TOKEN, &yes, sizeof(yes)},
        {CKA_PRIVATE, &yes, sizeof(yes)},
        {CKA_SENSITIVE, &yes, sizeof(yes)},
        {CKA_DECRYPT, &yes, sizeof(yes)},
        {CKA_SIGN, &yes, sizeof(yes)},
        {CKA_UNWRAP, &yes, sizeof(yes)},
        {CKA_ID, &id, sizeof(id)},
    };
    CK_OBJECT_HANDLE publicKey = CK_INVALID_HANDLE;
    CK_OBJECT_HANDLE privateKey = CK_INVALID_HANDLE;
    ThrowIfFailed(m_pFunctionList->C_GenerateKeyPair(m_hSession, &mechanism, publicTemplate, 6, privateTemplate, 8,
                                                     &publicKey, &privateKey),
                  "CGostSignatureOperator::GenerateKeyPair");
}

void CGostSignatureOperator::SignAndVerifyWithCertificate() {}

void CGostSignatureOperator::SignAndVerifyWithKey()
{
    SignAndVerifyWithKeyPair(CKM_GOSTR3410, "CGostSignatureOperator::SignAndVerifyWithKey");
}

void CGostSignatureOperator::GenerateSecretKey()
{
    CheckToken();
    CK_MECHANISM mechanism = {CKM_GOST28147_KEY_GEN, nullptr, 0};
    SecretKeyTemplate keyTemplate(m_secretKeyId);
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    ThrowIfFailed(m_pFunctionList->C_GenerateKey(m_hSession, &mechanism, keyTemplate.attributes, 10, &key),
                  "CGostSignatureOperator::GenerateSecretKey");
}

void CGostSignatureOperator::StoreSecretKey()
{
    CheckToken();
    SecretKeyTemplate keyTemplate(m_secretKeyId);
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    ThrowIfFailed(m_pFunctionList->C_CreateObject(m_hSession, keyTemplate.attributes, 11, &key),
                  "CGostSignatureOperator::StoreSecretKey");
}

void CGostSignatureOperator::CalculateAndVerifyMac()
{
    CheckToken();
    std::vector<unsigned char> data(std::begin(kMacData), std::end(kMacData));
    const std::vector<unsigned char> expected(std::begin(kExpectedMac), std::end(kExpectedMac));
    const CK_OBJECT_HANDLE key = FindSecretKey();
    CK_MECHANISM mechanism = {CKM_GOST28147_MAC, nullptr, 0};
    const char* const operation = "CGostSignatureOperator::CalculateAndVerifyMac";

    ThrowIfFailed(m_pFunctionList->C_SignInit(m_hSession, &mechanism, key), operation);
    CK_ULONG length = 0;
    ThrowIfFailed(m_pFunctionList->C_Sign(m_hSession, data.data(), data.size(), nullptr, &length), operation);
    if (length != expected.size()) {
        throw CustomException("Wrong signature length.");
    }
    std::vector<unsigned char> mac(expected.size());
    ThrowIfFailed(m_pFunctionList->C_Sign(m_hSession, data.data(), data.size(), mac.data(), &length), operation);
    if (mac != expected) {
        throw CustomException("Signature is wrong.");
    }
}
