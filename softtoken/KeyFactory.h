#pragma once
// Makes key objects: RSA and GOST R 34.10-2001 key pairs, GOST 28147-89 secret keys, and
// the objects of an imported PKCS#12 file, from the caller's templates and the crypto layer.
#include "Object.h"

#include "crypto/Pkcs12.h"

#include <utility>

namespace softtoken {

class KeyFactory {
public:
    static std::pair<Object, Object> GenerateKeyPair(const CK_MECHANISM& mechanism, Object::Map publicTemplate,
                                                     Object::Map privateTemplate);
    static Object GenerateSecretKey(const CK_MECHANISM& mechanism, Object::Map keyTemplate);
    // Private key, public key and certificate, all under the SHA-1 of the public key value.
    static std::vector<Object> FromPkcs12(const crypto::Pkcs12Contents& contents);
};

}  // namespace softtoken
