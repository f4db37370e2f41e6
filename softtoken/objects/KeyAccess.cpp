#include "objects/KeyAccess.h"

#include "mechanisms/gost/GostConstants.h"

#include "store/StoreCipher.h"

namespace softtoken {

crypto::RsaKeyComponents KeyAccess::RsaComponents(const Object& key) {
    crypto::RsaKeyComponents rsa;
    rsa.modulus = key.Get(CKA_MODULUS);
    rsa.publicExponent = key.Get(CKA_PUBLIC_EXPONENT);
    if (key.Class() == CKO_PRIVATE_KEY) {
        rsa.privateExponent = key.Get(CKA_PRIVATE_EXPONENT);
        rsa.prime1 = key.Get(CKA_PRIME_1);
        rsa.prime2 = key.Get(CKA_PRIME_2);
        rsa.exponent1 = key.Get(CKA_EXPONENT_1);
        rsa.exponent2 = key.Get(CKA_EXPONENT_2);
        rsa.coefficient = key.Get(CKA_COEFFICIENT);
    }
    return rsa;
}

crypto::GostKeyComponents KeyAccess::GostComponents(const Object& key) {
    crypto::GostKeyComponents gost;
    (key.Class() == CKO_PRIVATE_KEY ? gost.privateValue : gost.publicValue) = key.Get(CKA_VALUE);
    gost.paramsOid = key.Get(CKA_GOSTR3410_PARAMS);
    gost.hashParamsOid = key.Get(CKA_GOSTR3411_PARAMS);
    return gost;
}

crypto::KeyMaterial KeyAccess::Material(const Object& key) {
    crypto::KeyMaterial material;
    if (key.KeyType() == CKK_RSA) material.rsa = RsaComponents(key);
    else if (key.KeyType() == CKK_GOSTR3410) material.gost = GostComponents(key);
    else throw Pkcs11Error(CKR_KEY_TYPE_INCONSISTENT);
    return material;
}

const crypto::Rsa::PrivateKey& KeyAccess::RsaPrivate(Object& key) {
    return KeyAccess::Cached<crypto::Rsa::PrivateKey>(key, [&key] {
        crypto::RsaKeyComponents parts = RsaComponents(key);
        auto wipe = [&parts] {
            for (Bytes* part : {&parts.privateExponent, &parts.prime1, &parts.prime2, &parts.exponent1,
                                &parts.exponent2, &parts.coefficient})
                StoreCipher::Wipe(*part);
        };
        try {
            crypto::Rsa::PrivateKey loaded = crypto::Rsa::LoadPrivate(parts);
            wipe();
            return loaded;
        } catch (...) {
            wipe();
            throw;
        }
    });
}

const crypto::Rsa::PublicKey& KeyAccess::RsaPublic(Object& key) {
    return KeyAccess::Cached<crypto::Rsa::PublicKey>(
        key, [&key] { return crypto::Rsa::LoadPublic(key.Get(CKA_MODULUS), key.Get(CKA_PUBLIC_EXPONENT)); });
}

crypto::GostKind KeyAccess::GostKindOf(const Object& key) {
    return crypto::GostR3410::KindOf(key.KeyType() == CKK_GOSTR3410_512, key.Get(CKA_GOSTR3410_PARAMS),
                                     key.Get(CKA_GOSTR3411_PARAMS));
}

const crypto::GostR3410::PrivateKey& KeyAccess::GostPrivate(Object& key) {
    return KeyAccess::Cached<crypto::GostR3410::PrivateKey>(key, [&key] {
        return crypto::GostR3410::LoadPrivate(GostKindOf(key), key.Get(CKA_VALUE), key.Get(CKA_GOSTR3410_PARAMS));
    });
}

const crypto::GostR3410::PublicKey& KeyAccess::GostPublic(Object& key) {
    return KeyAccess::Cached<crypto::GostR3410::PublicKey>(key, [&key] {
        return crypto::GostR3410::LoadPublic(GostKindOf(key), key.Get(CKA_VALUE), key.Get(CKA_GOSTR3410_PARAMS));
    });
}

}  // namespace softtoken
