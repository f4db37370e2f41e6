#include "SignOperation.h"

#include "KeyAccess.h"
#include "StoreCipher.h"
#include "crypto/Digest.h"
#include "crypto/Gost28147.h"
#include "crypto/GostR3410.h"

namespace softtoken {
namespace {

struct Requirement {
    CK_OBJECT_CLASS signClass;
    CK_OBJECT_CLASS verifyClass;
    CK_KEY_TYPE keyType;
};

Requirement RequirementOf(CK_MECHANISM_TYPE mechanism) {
    switch (mechanism) {
    case CKM_RSA_PKCS:
    case CKM_SHA256_RSA_PKCS:
        return {CKO_PRIVATE_KEY, CKO_PUBLIC_KEY, CKK_RSA};
    case CKM_GOSTR3410:
    case CKM_GOSTR3410_WITH_GOSTR3411:
        return {CKO_PRIVATE_KEY, CKO_PUBLIC_KEY, CKK_GOSTR3410};
    case CKM_GOST28147_MAC:
        return {CKO_SECRET_KEY, CKO_SECRET_KEY, CKK_GOST28147};
    default:
        throw Pkcs11Error(CKR_MECHANISM_INVALID);
    }
}

}  // namespace

SignOperation::SignOperation(const CK_MECHANISM& mechanism, std::shared_ptr<Object> key, bool verify)
    : m_mechanism(mechanism.mechanism), m_key(std::move(key)) {
    const Requirement requirement = RequirementOf(m_mechanism);
    Require(m_key->Class() == (verify ? requirement.verifyClass : requirement.signClass) &&
                m_key->KeyType() == requirement.keyType,
            CKR_KEY_TYPE_INCONSISTENT);
    Require(m_key->Bool(verify ? CKA_VERIFY : CKA_SIGN), CKR_KEY_FUNCTION_NOT_PERMITTED);
    Require(mechanism.pParameter != nullptr || mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    const auto* parameter = static_cast<const unsigned char*>(mechanism.pParameter);
    if (m_mechanism == CKM_GOST28147_MAC) {
        // An optional 8-byte initialisation vector, refused here when the MAC could not use it.
        Require(mechanism.ulParameterLen == 0 || mechanism.ulParameterLen == 8, CKR_MECHANISM_PARAM_INVALID);
        if (mechanism.ulParameterLen) m_parameter.assign(parameter, parameter + 8);
        Require(crypto::Gost28147::IsUsableIv(m_parameter), CKR_MECHANISM_PARAM_INVALID);
    } else {
        Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    }
    LoadKey(verify);
}

// Loads the key now, so that a key whose stored values form no key of its type fails the Init
// call, with a code Init may answer.
void SignOperation::LoadKey(bool verify) {
    try {
        if (m_key->KeyType() == CKK_RSA) {
            if (verify) KeyAccess::RsaPublic(*m_key);
            else KeyAccess::RsaPrivate(*m_key);
        } else if (m_key->KeyType() == CKK_GOSTR3410) {
            if (verify) KeyAccess::GostPublic(*m_key);
            else KeyAccess::GostPrivate(*m_key);
        }
    } catch (const crypto::CryptoError& error) {
        if (error.Rv() == CKR_ATTRIBUTE_VALUE_INVALID) throw Pkcs11Error(CKR_KEY_TYPE_INCONSISTENT);
        throw;
    }
}

bool SignOperation::AllowsMultiPart() const {
    return m_mechanism == CKM_SHA256_RSA_PKCS || m_mechanism == CKM_GOSTR3410_WITH_GOSTR3411 ||
           m_mechanism == CKM_GOST28147_MAC;
}

void SignOperation::Update(const unsigned char* data, CK_ULONG length) {
    if (length) m_data.insert(m_data.end(), data, data + length);
}

size_t SignOperation::SignatureLength() const {
    switch (m_mechanism) {
    case CKM_RSA_PKCS:
    case CKM_SHA256_RSA_PKCS:
        return m_key->Get(CKA_MODULUS).size();
    case CKM_GOSTR3410:
    case CKM_GOSTR3410_WITH_GOSTR3411:
        return crypto::GostR3410::kSignatureLength;
    default:
        return crypto::Gost28147::kMacLength;
    }
}

Bytes SignOperation::Sign() {
    switch (m_mechanism) {
    case CKM_RSA_PKCS:
        return crypto::Rsa::SignPkcs1Raw(KeyAccess::RsaPrivate(*m_key), m_data);
    case CKM_SHA256_RSA_PKCS:
        return crypto::Rsa::SignSha256Pkcs1(KeyAccess::RsaPrivate(*m_key), m_data);
    case CKM_GOSTR3410:
        Require(m_data.size() == crypto::GostR3410::kHashLength, CKR_DATA_LEN_RANGE);
        return crypto::GostR3410::Sign(KeyAccess::GostPrivate(*m_key), m_data);
    case CKM_GOSTR3410_WITH_GOSTR3411:
        return crypto::GostR3410::Sign(KeyAccess::GostPrivate(*m_key), crypto::Digest::Gost94(m_data));
    default:
        return crypto::Gost28147::Mac(m_key->Get(CKA_VALUE), m_key->Get(CKA_GOST28147_PARAMS), m_parameter, m_data);
    }
}

CK_RV SignOperation::Verify(const Bytes& signature) {
    switch (m_mechanism) {
    case CKM_RSA_PKCS:
        return crypto::Rsa::VerifyPkcs1Raw(KeyAccess::RsaPublic(*m_key), m_data, signature);
    case CKM_SHA256_RSA_PKCS:
        return crypto::Rsa::VerifySha256Pkcs1(KeyAccess::RsaPublic(*m_key), m_data, signature);
    case CKM_GOSTR3410:
        Require(m_data.size() == crypto::GostR3410::kHashLength, CKR_DATA_LEN_RANGE);
        return crypto::GostR3410::Verify(KeyAccess::GostPublic(*m_key), m_data, signature);
    case CKM_GOSTR3410_WITH_GOSTR3411:
        return crypto::GostR3410::Verify(KeyAccess::GostPublic(*m_key), crypto::Digest::Gost94(m_data), signature);
    default: {
        if (signature.size() != crypto::Gost28147::kMacLength) return CKR_SIGNATURE_LEN_RANGE;
        const Bytes mac = Sign();
        return StoreCipher::EqualConstantTime(mac, signature) ? CKR_OK : CKR_SIGNATURE_INVALID;
    }
    }
}

}  // namespace softtoken
