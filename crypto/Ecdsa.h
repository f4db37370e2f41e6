#pragma once
// ECDSA over a hash the caller made, with signatures in the PKCS#11 layout r||s, each half the
// curve's field length, big-endian.
#include "EcKeys.h"

namespace crypto {

class Ecdsa {
public:
    static constexpr size_t kMaxHashLength = 64;

    // CKR_DATA_LEN_RANGE for an empty hash or one longer than kMaxHashLength.
    static Bytes Sign(const EcKeys::PrivateKey& key, const EcCurve& curve, const Bytes& hash);
    // CKR_OK, CKR_SIGNATURE_INVALID or CKR_SIGNATURE_LEN_RANGE (not twice the field length).
    static CK_RV Verify(const EcKeys::PublicKey& key, const EcCurve& curve, const Bytes& hash, const Bytes& signature);
};

}  // namespace crypto
