#pragma once
// Turns key objects into the crypto layer's key forms, keeping loaded RSA and GOST R 34.10
// keys on the object for reuse (dropped, and their private values cleared, when the object
// changes, is closed or goes).
#include "objects/Object.h"
#include "crypto/GostR3410.h"
#include "crypto/KeyMaterial.h"
#include "crypto/CryptoError.h"
#include "crypto/Rsa.h"

#include <memory>

namespace softtoken {

class KeyAccess {
public:
    static crypto::RsaKeyComponents RsaComponents(const Object& key);
    static crypto::GostKeyComponents GostComponents(const Object& key);
    // The key as the CSR and CMS code take it; CKR_KEY_TYPE_INCONSISTENT for other key types.
    static crypto::KeyMaterial Material(const Object& key);
    static const crypto::Rsa::PrivateKey& RsaPrivate(Object& key);
    static const crypto::Rsa::PublicKey& RsaPublic(Object& key);
    // Which GOST R 34.10 a CKK_GOSTR3410 or CKK_GOSTR3410_512 key is, from its attributes.
    static crypto::GostKind GostKindOf(const Object& key);
    static const crypto::GostR3410::PrivateKey& GostPrivate(Object& key);
    static const crypto::GostR3410::PublicKey& GostPublic(Object& key);

    // The key loaded on the object, loading it on first use; for the families' own key
    // forms. An object's class and key type never change, so one kind of key is kept on it.
    template <typename Key, typename Load>
    static const Key& Cached(Object& object, Load load) {
        if (!object.keyCache) object.keyCache = std::make_shared<Key>(load());
        return *std::static_pointer_cast<Key>(object.keyCache);
    }

    // Runs an Init call's key loading: stored values that form no key of their type answer
    // CKR_KEY_TYPE_INCONSISTENT, a code Init may answer.
    template <typename Load>
    static void Loaded(Load load) {
        try {
            load();
        } catch (const crypto::CryptoError& error) {
            if (error.Rv() == CKR_ATTRIBUTE_VALUE_INVALID) throw Pkcs11Error(CKR_KEY_TYPE_INCONSISTENT);
            throw;
        }
    }
};

}  // namespace softtoken
