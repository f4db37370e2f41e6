#include "mechanisms/aes/AesGcmOperation.h"

#include "mechanisms/MechanismParameters.h"
#include "store/StoreCipher.h"

namespace softtoken {

AesGcmOperation::AesGcmOperation(const std::string& cipherName, const Bytes& key, const Bytes& iv, const Bytes& aad,
                                 size_t tagLength, bool encrypt)
    : m_cipher(MechanismParameters::Crypto([&] { return crypto::SymmetricCipher(cipherName, key, iv, encrypt, false); })),
      m_tagLength(tagLength),
      m_encrypt(encrypt) {
    MechanismParameters::Crypto([&] { m_cipher.AddAuthenticated(aad); });
}

AesGcmOperation::~AesGcmOperation() = default;

Bytes AesGcmOperation::Update(const unsigned char* data, size_t length) {
    if (m_encrypt) return MechanismParameters::Crypto([&] { return m_cipher.Update(data, length); });
    Require(length <= crypto::SymmetricCipher::kMaxInput - m_encrypted.size(), CKR_ENCRYPTED_DATA_LEN_RANGE);
    if (length) m_encrypted.insert(m_encrypted.end(), data, data + length);
    return {};
}

Bytes AesGcmOperation::Final() {
    if (!m_encrypt) return FinalDecrypt();
    return MechanismParameters::Crypto([&] {
        Bytes out = m_cipher.Final();
        const Bytes tag = m_cipher.Tag(m_tagLength);
        out.insert(out.end(), tag.begin(), tag.end());
        return out;
    });
}

Bytes AesGcmOperation::FinalDecrypt() {
    Require(m_encrypted.size() >= m_tagLength, CKR_ENCRYPTED_DATA_LEN_RANGE);
    const size_t textLength = m_encrypted.size() - m_tagLength;
    const Bytes tag(m_encrypted.begin() + static_cast<std::ptrdiff_t>(textLength), m_encrypted.end());
    return MechanismParameters::Crypto([&] {
        m_cipher.ExpectTag(tag);
        Bytes plain = m_cipher.Update(m_encrypted.data(), textLength);
        try {
            m_cipher.Final();  // a wrong tag throws here, before any plaintext leaves
        } catch (...) {
            StoreCipher::Wipe(plain);
            throw;
        }
        return plain;
    });
}

}  // namespace softtoken
