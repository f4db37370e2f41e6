#pragma once
// Turns key objects into the crypto layer's key forms, keeping loaded RSA and GOST R 34.10
// keys on the object for reuse (dropped, and their private values cleared, when the object
// changes, is closed or goes).
#include "Object.h"
#include "crypto/GostR3410.h"
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
    static const crypto::GostR3410::PrivateKey& GostPrivate(Object& key);
    static const crypto::GostR3410::PublicKey& GostPublic(Object& key);
};

}  // namespace softtoken
