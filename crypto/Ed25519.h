#pragma once
// Pure Ed25519 signatures (64 bytes) over a message given in one piece.
#include "EcKeys.h"

namespace crypto {

class Ed25519 {
public:
    static constexpr size_t kSignatureLength = 64;

    static Bytes Sign(const EcKeys::PrivateKey& key, const Bytes& message);
    // CKR_OK, CKR_SIGNATURE_INVALID or CKR_SIGNATURE_LEN_RANGE (not 64 bytes).
    static CK_RV Verify(const EcKeys::PublicKey& key, const Bytes& message, const Bytes& signature);
};

}  // namespace crypto
