#include "mechanisms/rsa/RsaSignature.h"

#include "objects/KeyAccess.h"
#include "crypto/Rsa.h"

namespace softtoken {
namespace {

// PSS needs room for the digest, the salt and two more bytes in the encoded message.
void RequireSaltFits(const crypto::RsaPadding& padding, size_t modulusBits) {
    if (padding.scheme != crypto::RsaPadding::Scheme::Pss) return;
    const size_t encodedLength = (modulusBits + 6) / 8;
    const size_t needed = crypto::RsaHash::Length(padding.hash) + 2;
    Require(encodedLength >= needed && padding.saltLength <= encodedLength - needed, CKR_MECHANISM_PARAM_INVALID);
}

}  // namespace

RsaSignature::RsaSignature(Object& key, bool verify, const crypto::RsaPadding& padding, bool hashHere)
    : m_key(key), m_padding(padding) {
    // Loads the key now, so that stored values that form no RSA key fail the Init call.
    KeyAccess::Loaded([&] {
        if (verify) {
            const auto& loaded = KeyAccess::RsaPublic(m_key);
            m_length = crypto::Rsa::SignatureLength(loaded);
            RequireSaltFits(m_padding, crypto::Rsa::ModulusBits(loaded));
        } else {
            const auto& loaded = KeyAccess::RsaPrivate(m_key);
            m_length = crypto::Rsa::SignatureLength(loaded);
            RequireSaltFits(m_padding, crypto::Rsa::ModulusBits(loaded));
        }
    });
    if (hashHere) m_hash.emplace(m_padding.hash);
}

bool RsaSignature::AllowsMultiPart() const { return m_hash.has_value(); }

void RsaSignature::Update(const unsigned char* data, size_t length) {
    if (m_hash) m_hash->Update(data, length);
    else if (length) m_data.insert(m_data.end(), data, data + length);
}

size_t RsaSignature::ResultLength() const { return m_length; }

Bytes RsaSignature::Input() { return m_hash ? m_hash->Final() : m_data; }

Bytes RsaSignature::Final() { return crypto::Rsa::Sign(KeyAccess::RsaPrivate(m_key), m_padding, Input()); }

CK_RV RsaSignature::Verify(const Bytes& signature) {
    return crypto::Rsa::Verify(KeyAccess::RsaPublic(m_key), m_padding, Input(), signature);
}

}  // namespace softtoken
