#pragma once
// AES-GCM encryption and decryption. Encryption outputs as it goes and the tag at Final;
// decryption releases nothing before the tag has been checked at Final.
#include "mechanisms/CipherOperation.h"

#include "crypto/SymmetricCipher.h"

#include <string>

namespace softtoken {

class AesGcmOperation : public CipherOperation {
public:
    AesGcmOperation(const std::string& cipherName, const Bytes& key, const Bytes& iv, const Bytes& aad,
                    size_t tagLength, bool encrypt);
    ~AesGcmOperation() override;

    Bytes Update(const unsigned char* data, size_t length) override;
    Bytes Final() override;

private:
    Bytes FinalDecrypt();

    crypto::SymmetricCipher m_cipher;
    size_t m_tagLength;
    bool m_encrypt;
    Bytes m_encrypted;  // decryption: the ciphertext and tag so far
};

}  // namespace softtoken
