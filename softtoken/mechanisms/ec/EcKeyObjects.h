#pragma once
// EC and Edwards-curve key objects as the crypto layer's keys: the curve their CKA_EC_PARAMS
// names, the loaded key kept on the object, and the values a generated pair gets.
#include "objects/Object.h"
#include "crypto/EcKeys.h"

namespace softtoken {

class EcKeyObjects {
public:
    // The curve of the key's CKA_EC_PARAMS (crypto errors for unknown or malformed ones).
    static const crypto::EcCurve& Curve(const Object& key);
    static const crypto::EcKeys::PrivateKey& Private(Object& key);
    static const crypto::EcKeys::PublicKey& Public(Object& key);
    // CKA_EC_PARAMS as the caller gave it on both halves, the DER point on the public one,
    // the private value on the private one.
    static void Fill(Object& publicKey, Object& privateKey, const Bytes& params, const crypto::EcKeyComponents& ec);
};

}  // namespace softtoken
