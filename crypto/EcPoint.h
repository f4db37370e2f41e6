#pragma once
// The forms of an EC public point: CKA_EC_POINT holds a DER OCTET STRING of the raw point
// (04||X||Y on the prime curves, the 32-byte key on Ed25519); callers may also give the raw
// point, in C_CreateObject and in ECDH public data.
#include "Bytes.h"
#include "EcParams.h"

namespace crypto {

class EcPoint {
public:
    // The raw point of either form; CKR_ATTRIBUTE_VALUE_INVALID for any other length or form
    // (compressed points included). Whether the point lies on the curve is for the loader.
    static Bytes Decode(const EcCurve& curve, const Bytes& value);
    // The DER OCTET STRING of a raw point.
    static Bytes Encode(const Bytes& rawPoint);
    static size_t RawLength(const EcCurve& curve);
};

}  // namespace crypto
