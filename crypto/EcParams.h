#pragma once
// The curves an EC or Edwards-curve key may name in CKA_EC_PARAMS: a DER OID or a DER
// PrintableString with the curve's name. Explicit curve parameters are refused.
#include "Bytes.h"
#include "CryptoError.h"

#include <cstddef>

namespace crypto {

struct EcCurve {
    const char* groupName;  // OpenSSL's name of the group or key type
    const char* oidText;    // dotted OID
    size_t fieldBytes;      // length of a coordinate and of the private value
    CK_ULONG bits;          // the size CK_MECHANISM_INFO counts in
    bool edwards;           // Ed25519: 32-byte points and values, EdDSA only
};

class EcParams {
public:
    // The curve the attribute names. CKR_ATTRIBUTE_VALUE_INVALID when it is not exactly one
    // DER OID or PrintableString; CKR_CURVE_NOT_SUPPORTED for explicit or implicit
    // parameters and for curves not known here.
    static const EcCurve& Parse(const Bytes& params);
    // The curve OpenSSL calls groupName; CKR_CURVE_NOT_SUPPORTED when unknown.
    static const EcCurve& ByGroupName(const char* groupName);
    // DER of the curve's OID, the form keys made here carry.
    static Bytes OidDer(const EcCurve& curve);
};

}  // namespace crypto
