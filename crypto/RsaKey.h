#pragma once
// An RSA key as PKCS#11 attributes hold it: big-endian integers without leading zeros.
// A public key fills only modulus and publicExponent.
#include "Bytes.h"

namespace crypto {

struct RsaKeyComponents {
    Bytes modulus, publicExponent, privateExponent, prime1, prime2, exponent1, exponent2,
        coefficient;
};

}  // namespace crypto
