#pragma once
// A GOST R 34.10 key in PKCS#11 layouts, and which of the algorithm's kinds it is.
// A public key leaves privateValue empty.
#include "Bytes.h"

namespace crypto {

// GOST R 34.10-2001, GOST R 34.10-2012 with 256-bit keys, GOST R 34.10-2012 with 512-bit keys.
enum class GostKind { R2001, R2012_256, R2012_512 };

struct GostKeyComponents {
    Bytes privateValue;   // 32 or 64 bytes, little-endian (CKA_VALUE of the private key)
    Bytes publicValue;    // 64 or 128 bytes, X then Y, each little-endian (CKA_VALUE of the public key)
    Bytes paramsOid;      // DER of the key parameter set OID (CKA_GOSTR3410_PARAMS)
    Bytes hashParamsOid;  // DER of the hash parameter set OID (CKA_GOSTR3411_PARAMS)
};

}  // namespace crypto
