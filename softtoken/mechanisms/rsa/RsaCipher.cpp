#include "mechanisms/rsa/RsaCipher.h"

#include "objects/KeyAccess.h"
#include "objects/WipeGuard.h"
#include "crypto/Rsa.h"

namespace softtoken {

RsaCipher::RsaCipher(Object& key, KeyUse use, const crypto::RsaPadding& padding)
    : m_key(key), m_use(use), m_padding(padding) {
    // Loads the key now, so that stored values that form no RSA key fail the Init call.
    KeyAccess::Loaded([&] {
        if (m_use == KeyUse::Encrypt || m_use == KeyUse::Wrap) KeyAccess::RsaPublic(m_key);
        else KeyAccess::RsaPrivate(m_key);
    });
}

bool RsaCipher::AllowsMultiPart() const { return false; }

Bytes RsaCipher::Update(const unsigned char*, size_t) { throw Pkcs11Error(CKR_FUNCTION_NOT_SUPPORTED); }

Bytes RsaCipher::Final() { throw Pkcs11Error(CKR_FUNCTION_NOT_SUPPORTED); }

// The crypto layer's codes as the module's own, which C_UnwrapKey translates to its codes.
Bytes RsaCipher::OneShot(const unsigned char* data, size_t length) {
    Bytes input = length ? Bytes(data, data + length) : Bytes();
    WipeGuard wipe(input);
    try {
        if (m_use == KeyUse::Decrypt || m_use == KeyUse::Unwrap)
            return crypto::Rsa::Decrypt(KeyAccess::RsaPrivate(m_key), m_padding, input);
        return crypto::Rsa::Encrypt(KeyAccess::RsaPublic(m_key), m_padding, input);
    } catch (const crypto::CryptoError& error) {
        // A key too long for one block cannot be wrapped with this key.
        if (m_use == KeyUse::Wrap && error.Rv() == CKR_DATA_LEN_RANGE) throw Pkcs11Error(CKR_KEY_SIZE_RANGE);
        throw Pkcs11Error(error.Rv());
    }
}

}  // namespace softtoken
