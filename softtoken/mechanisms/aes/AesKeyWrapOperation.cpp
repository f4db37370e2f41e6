#include "mechanisms/aes/AesKeyWrapOperation.h"

#include "mechanisms/MechanismParameters.h"

namespace softtoken {
namespace {

std::string WrapCipherName(size_t keyLength, bool padded) {
    return "id-aes" + std::to_string(keyLength * 8) + (padded ? "-wrap-pad" : "-wrap");
}

}  // namespace

AesKeyWrapOperation::AesKeyWrapOperation(const Bytes& key, const Bytes& iv, bool padded, bool encrypt)
    : m_cipher(MechanismParameters::Crypto([&] {
          return crypto::SymmetricCipher(WrapCipherName(key.size(), padded), key, iv, encrypt, false);
      })),
      m_padded(padded),
      m_encrypt(encrypt) {}

// Wrapping takes whole 8-byte blocks, at least two (with padding any length from one byte);
// unwrapping takes what wrapping gives: whole blocks, at least three (with padding two).
bool AesKeyWrapOperation::FitsLength(size_t length) const {
    if (m_encrypt) return m_padded ? length > 0 : length >= 16 && length % 8 == 0;
    return length % 8 == 0 && length >= (m_padded ? 16u : 24u);
}

Bytes AesKeyWrapOperation::Update(const unsigned char*, size_t) { throw Pkcs11Error(CKR_FUNCTION_NOT_SUPPORTED); }

Bytes AesKeyWrapOperation::Final() { throw Pkcs11Error(CKR_FUNCTION_NOT_SUPPORTED); }

Bytes AesKeyWrapOperation::OneShot(const unsigned char* data, size_t length) {
    Require(FitsLength(length), m_encrypt ? CKR_DATA_LEN_RANGE : CKR_ENCRYPTED_DATA_LEN_RANGE);
    return MechanismParameters::Crypto([&] { return m_cipher.Update(data, length); });
}

}  // namespace softtoken
