#include "mechanisms/BlockCipherOperation.h"

#include "mechanisms/MechanismParameters.h"
#include "objects/WipeGuard.h"

namespace softtoken {

BlockCipherOperation::BlockCipherOperation(const std::string& cipherName, const Bytes& key, const Bytes& iv,
                                           bool encrypt, Padding padding, unsigned long long maxLength)
    : m_cipher(MechanismParameters::Crypto([&] {
          return crypto::SymmetricCipher(cipherName, key, iv, encrypt, padding == Padding::Pkcs7);
      })),
      m_encrypt(encrypt),
      m_padding(padding),
      m_maxLength(maxLength),
      m_blockSize(m_cipher.BlockSize()) {}

Bytes BlockCipherOperation::Update(const unsigned char* data, size_t length) {
    if (m_maxLength != 0) Require(length <= m_maxLength - m_total, LengthError());
    m_total += length;
    return MechanismParameters::Crypto([&] { return m_cipher.Update(data, length); });
}

Bytes BlockCipherOperation::Final() {
    const size_t partial = static_cast<size_t>(m_total % m_blockSize);
    Bytes out;
    switch (m_padding) {
    case Padding::None:
        Require(partial == 0, LengthError());
        break;
    case Padding::Pkcs7:
        if (!m_encrypt) Require(partial == 0 && m_total > 0, CKR_ENCRYPTED_DATA_LEN_RANGE);
        break;
    case Padding::ZeroFill:
        if (partial != 0 && m_encrypt) {
            const Bytes zeros(m_blockSize - partial, 0);
            out = Update(zeros.data(), zeros.size());
        }
        Require(m_total % m_blockSize == 0, LengthError());
        break;
    case Padding::Stream:
        break;
    }
    Bytes last = MechanismParameters::Crypto([&] { return m_cipher.Final(); });
    WipeGuard wipe(last);
    out.insert(out.end(), last.begin(), last.end());
    return out;
}

}  // namespace softtoken
