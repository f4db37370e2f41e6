#pragma once
// CKM_ECDH1_DERIVE: the shared secret of the base key and the peer's public point in
// CK_ECDH1_DERIVE_PARAMS, as it is (CKD_NULL) or through the X9.63 KDF (CKD_SHA*_KDF).
#include "objects/Object.h"

#include <p11-kit/pkcs11.h>

namespace softtoken {

class EcdhDerivation {
public:
    // Bytes a KDF gives: enough for any key the template asks to keep (CKA_VALUE_LEN cuts).
    static constexpr size_t kKdfOutputLength = 64;

    static Bytes Derive(const CK_MECHANISM& mechanism, Object& baseKey);
};

}  // namespace softtoken
