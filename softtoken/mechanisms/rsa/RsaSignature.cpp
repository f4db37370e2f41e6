#include "mechanisms/rsa/RsaSignature.h"

#include "objects/KeyAccess.h"

namespace softtoken {

RsaSignature::RsaSignature(CK_MECHANISM_TYPE mechanism, Object& key, bool verify)
    : m_mechanism(mechanism), m_key(key) {
    // Loads the key now, so that stored values that form no RSA key fail the Init call.
    KeyAccess::Loaded([&] {
        if (verify) KeyAccess::RsaPublic(m_key);
        else KeyAccess::RsaPrivate(m_key);
    });
}

bool RsaSignature::AllowsMultiPart() const { return m_mechanism != CKM_RSA_PKCS; }

void RsaSignature::Update(const unsigned char* data, size_t length) {
    if (length) m_data.insert(m_data.end(), data, data + length);
}

size_t RsaSignature::ResultLength() const { return m_key.Get(CKA_MODULUS).size(); }

Bytes RsaSignature::Final() {
    if (m_mechanism == CKM_RSA_PKCS) return crypto::Rsa::SignPkcs1Raw(KeyAccess::RsaPrivate(m_key), m_data);
    return crypto::Rsa::SignSha256Pkcs1(KeyAccess::RsaPrivate(m_key), m_data);
}

CK_RV RsaSignature::Verify(const Bytes& signature) {
    if (m_mechanism == CKM_RSA_PKCS) return crypto::Rsa::VerifyPkcs1Raw(KeyAccess::RsaPublic(m_key), m_data, signature);
    return crypto::Rsa::VerifySha256Pkcs1(KeyAccess::RsaPublic(m_key), m_data, signature);
}

}  // namespace softtoken
