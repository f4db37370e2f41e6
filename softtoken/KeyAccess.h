#pragma once
// Turns key objects into the crypto layer's key forms, keeping loaded RSA keys on the
// object for reuse.
#include "Object.h"
#include "crypto/KeyMaterial.h"
#include "crypto/Rsa.h"

namespace softtoken {

class KeyAccess {
public:
    static crypto::RsaKeyComponents RsaComponents(const Object& key);
    static crypto::GostKeyComponents GostComponents(const Object& key);
    // The key as the CSR and CMS code take it; CKR_KEY_TYPE_INCONSISTENT for other key types.
    static crypto::KeyMaterial Material(const Object& key);
    static const crypto::Rsa::PrivateKey& RsaPrivate(Object& key);
    static const crypto::Rsa::PublicKey& RsaPublic(Object& key);
};

}  // namespace softtoken
