#pragma once
// EC (P-256, P-384, P-521) and Ed25519 keys as OpenSSL keys of the default provider, from and
// to the values PKCS#11 objects hold: the raw public point and the private value.
#include "Bytes.h"
#include "CryptoError.h"
#include "EcParams.h"
#include "LoadedKey.h"

namespace crypto {

struct EcKeyComponents {
    Bytes params;        // DER OID of the curve
    Bytes point;         // raw public point
    Bytes privateValue;  // fieldBytes long, big-endian (Ed25519: the 32-byte seed)
};

class EcKeys {
public:
    // Loaded keys, cheap to reuse: loading a private key computes its public point.
    using PrivateKey = LoadedKey<struct EcPrivateTag>;
    using PublicKey = LoadedKey<struct EcPublicTag>;

    static EcKeyComponents Generate(const EcCurve& curve);
    // CKR_ATTRIBUTE_VALUE_INVALID for a value of the wrong length or outside [1, n-1].
    static void CheckPrivate(const EcCurve& curve, const Bytes& privateValue);
    static PrivateKey LoadPrivate(const EcCurve& curve, const Bytes& privateValue);
    // CKR_ATTRIBUTE_VALUE_INVALID for a point not on the curve.
    static PublicKey LoadPublic(const EcCurve& curve, const Bytes& rawPoint);
    // The raw public point of a private value.
    static Bytes PublicPoint(const EcCurve& curve, const Bytes& privateValue);
    // PKCS#8 PrivateKeyInfo of a private value, and back (CKR_WRAPPED_KEY_INVALID for DER
    // that holds no key of a curve known here).
    static Bytes ToPkcs8(const EcCurve& curve, const Bytes& privateValue);
    static EcKeyComponents FromPkcs8(const Bytes& der);
};

}  // namespace crypto
