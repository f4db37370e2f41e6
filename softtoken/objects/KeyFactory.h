#pragma once
// What every way of making key objects shares (a template given its class and key type, the
// marks of a key made here, RSA and GOST R 34.10 values), and the objects of an imported
// PKCS#12 file. The families' generators build on it.
#include "objects/Object.h"

#include "crypto/KeyMaterial.h"
#include "crypto/Pkcs12.h"

#include <utility>

namespace softtoken {

class KeyFactory {
public:
    // The template with its class and key type (contradicting ones refused), completed as a
    // key the token makes.
    static Object Typed(Object::Map attributes, CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType);
    static void MarkGenerated(Object& key, CK_MECHANISM_TYPE mechanism);
    static void FillRsa(Object& publicKey, Object& privateKey, const crypto::RsaKeyComponents& rsa);
    // The private key's values alone.
    static void FillRsaPrivate(Object& privateKey, const crypto::RsaKeyComponents& rsa);
    static void WipeRsa(crypto::RsaKeyComponents& rsa);
    static void FillGost(Object& publicKey, Object& privateKey, const crypto::GostKeyComponents& gost);
    // Private key, public key and certificate, all under the SHA-1 of the public key value.
    static std::vector<Object> FromPkcs12(const crypto::Pkcs12Contents& contents);
};

}  // namespace softtoken
