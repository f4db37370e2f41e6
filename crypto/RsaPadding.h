#pragma once
// How an RSA operation pads its input: PKCS#1 v1.5, PSS, OAEP or not at all (raw). Hashes
// are named by their PKCS#11 digest mechanisms (CKM_SHA_1 ... CKM_SHA512).
#include "Bytes.h"
#include "CryptoError.h"

#include <cstddef>

namespace crypto {

struct RsaPadding {
    enum class Scheme { Pkcs1, Pss, Oaep, Raw };

    Scheme scheme = Scheme::Pkcs1;
    // PKCS#1 v1.5 signatures: the hash whose DigestInfo is built around the input, or 0 for
    // input that is a DigestInfo already. PSS and OAEP: the hash of the scheme.
    CK_MECHANISM_TYPE hash = 0;
    CK_MECHANISM_TYPE mgfHash = 0;  // PSS and OAEP: MGF1's hash
    size_t saltLength = 0;          // PSS
    Bytes label;                    // OAEP
};

}  // namespace crypto
