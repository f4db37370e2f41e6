#pragma once
// One-shot message digests the token needs (object identifiers, hash-then-sign mechanisms).
#include "Bytes.h"

namespace crypto {

class Digest {
public:
    static Bytes Sha1(const Bytes& data);
    static Bytes Sha256(const Bytes& data);
    // GOST R 34.11-94 with the CryptoPro hash parameters, bytes as PKCS#11 passes them to
    // CKM_GOSTR3410.
    static Bytes Gost94(const Bytes& data);
};

}  // namespace crypto
