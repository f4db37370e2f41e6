#pragma once
// ECB, CBC (plain or with PKCS#7 padding) and CTR encryption and decryption under a secret
// key, for every block cipher family. Outputs whole blocks as they complete; a padded
// decryption keeps its last block back until Final.
#include "mechanisms/CipherOperation.h"

#include "crypto/SymmetricCipher.h"

#include <string>

namespace softtoken {

class BlockCipherOperation : public CipherOperation {
public:
    enum class Padding {
        None,      // whole blocks only
        Pkcs7,     // CBC_PAD
        ZeroFill,  // wrapping a key with ECB or CBC: zero bytes up to a whole block
        Stream,    // CTR: any length
    };

    // maxLength: the most bytes the mode may process (CTR's counter space); 0 for no limit.
    BlockCipherOperation(const std::string& cipherName, const Bytes& key, const Bytes& iv, bool encrypt,
                         Padding padding, unsigned long long maxLength = 0);

    Bytes Update(const unsigned char* data, size_t length) override;
    Bytes Final() override;

private:
    CK_RV LengthError() const { return m_encrypt ? CKR_DATA_LEN_RANGE : CKR_ENCRYPTED_DATA_LEN_RANGE; }

    crypto::SymmetricCipher m_cipher;
    bool m_encrypt;
    Padding m_padding;
    unsigned long long m_maxLength;
    unsigned long long m_total = 0;
    size_t m_blockSize;
};

}  // namespace softtoken
