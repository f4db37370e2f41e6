#pragma once
// AES key wrap (RFC 3394) and key wrap with padding (RFC 5649), in one piece only: the
// integrity check covers the whole input.
#include "mechanisms/CipherOperation.h"

#include "crypto/SymmetricCipher.h"

#include <string>

namespace softtoken {

class AesKeyWrapOperation : public CipherOperation {
public:
    AesKeyWrapOperation(const Bytes& key, const Bytes& iv, bool padded, bool encrypt);

    bool AllowsMultiPart() const override { return false; }
    Bytes Update(const unsigned char* data, size_t length) override;
    Bytes Final() override;
    Bytes OneShot(const unsigned char* data, size_t length) override;

private:
    bool FitsLength(size_t length) const;

    crypto::SymmetricCipher m_cipher;
    bool m_padded;
    bool m_encrypt;
};

}  // namespace softtoken
