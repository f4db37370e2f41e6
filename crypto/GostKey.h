#pragma once
// A GOST R 34.10-2001 key in PKCS#11 layouts. A public key leaves privateValue empty.
#include "Bytes.h"

namespace crypto {

struct GostKeyComponents {
    Bytes privateValue;   // 32 bytes, little-endian (CKA_VALUE of the private key)
    Bytes publicValue;    // 64 bytes, X then Y, each little-endian (CKA_VALUE of the public key)
    Bytes paramsOid;      // DER of the key parameter set OID (CKA_GOSTR3410_PARAMS)
    Bytes hashParamsOid;  // DER of the hash parameter set OID (CKA_GOSTR3411_PARAMS)
};

}  // namespace crypto
