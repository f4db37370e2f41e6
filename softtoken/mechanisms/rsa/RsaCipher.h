#pragma once
// RSA encryption and decryption (PKCS#1 v1.5, OAEP, raw) of one block, for C_Encrypt,
// C_Decrypt, C_WrapKey and C_UnwrapKey: no multi-part form.
#include "mechanisms/CipherOperation.h"
#include "mechanisms/MechanismTable.h"
#include "objects/Object.h"
#include "crypto/RsaPadding.h"

namespace softtoken {

class RsaCipher : public CipherOperation {
public:
    // use: Encrypt or Wrap with a public key, Decrypt or Unwrap with a private one.
    RsaCipher(Object& key, KeyUse use, const crypto::RsaPadding& padding);

    bool AllowsMultiPart() const override;
    Bytes Update(const unsigned char* data, size_t length) override;
    Bytes Final() override;
    Bytes OneShot(const unsigned char* data, size_t length) override;

private:
    Object& m_key;
    KeyUse m_use;
    crypto::RsaPadding m_padding;
};

}  // namespace softtoken
