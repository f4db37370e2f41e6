#include "mechanisms/ec/EcdsaSignature.h"

#include "mechanisms/ec/EcKeyObjects.h"
#include "objects/KeyAccess.h"
#include "crypto/Ecdsa.h"

namespace softtoken {
namespace {

const char* DigestOf(CK_MECHANISM_TYPE mechanism) {
    switch (mechanism) {
    case CKM_ECDSA_SHA1: return "SHA1";
    case CKM_ECDSA_SHA224: return "SHA224";
    case CKM_ECDSA_SHA256: return "SHA256";
    case CKM_ECDSA_SHA384: return "SHA384";
    case CKM_ECDSA_SHA512: return "SHA512";
    default: return nullptr;
    }
}

}  // namespace

EcdsaSignature::EcdsaSignature(CK_MECHANISM_TYPE mechanism, Object& key, bool verify) : m_key(key) {
    KeyAccess::Loaded([&] {
        m_curve = &EcKeyObjects::Curve(m_key);
        if (verify) EcKeyObjects::Public(m_key);
        else EcKeyObjects::Private(m_key);
    });
    if (const char* digest = DigestOf(mechanism)) m_hash.emplace(digest);
}

bool EcdsaSignature::AllowsMultiPart() const { return m_hash.has_value(); }

void EcdsaSignature::Update(const unsigned char* data, size_t length) {
    if (m_hash) m_hash->Update(data, length);
    else if (length) m_data.insert(m_data.end(), data, data + length);
}

size_t EcdsaSignature::ResultLength() const { return 2 * m_curve->fieldBytes; }

Bytes EcdsaSignature::Hash() { return m_hash ? m_hash->Final() : m_data; }

Bytes EcdsaSignature::Final() { return crypto::Ecdsa::Sign(EcKeyObjects::Private(m_key), *m_curve, Hash()); }

CK_RV EcdsaSignature::Verify(const Bytes& signature) {
    return crypto::Ecdsa::Verify(EcKeyObjects::Public(m_key), *m_curve, Hash(), signature);
}

}  // namespace softtoken
