#pragma once
// GOST 28147-89 encryption and decryption under a secret key's S-box: CKM_GOST28147_ECB (no
// parameter; also wraps and unwraps keys whose value is whole blocks), CKM_GOST28147 (CFB, the
// gamma with feedback) and CKM_NIMB_GOST28147_CNT (the counter mode), those two with an
// optional 8-byte IV (none: zero).
#include "mechanisms/CipherOperation.h"
#include "mechanisms/MechanismTable.h"
#include "objects/Object.h"
#include "crypto/Gost28147Cipher.h"

#include <memory>

namespace softtoken {

class Gost28147Encryption : public CipherOperation {
public:
    // CKR_MECHANISM_PARAM_INVALID for a parameter the mode does not take.
    Gost28147Encryption(const CK_MECHANISM& mechanism, const Object& key, KeyUse use);

    Bytes Update(const unsigned char* data, size_t length) override;
    Bytes Final() override;

private:
    template <typename Step>
    Bytes Answered(Step step);

    KeyUse m_use;
    std::unique_ptr<crypto::Gost28147Cipher> m_cipher;
};

}  // namespace softtoken
