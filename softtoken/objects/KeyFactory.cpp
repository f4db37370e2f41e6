#include "objects/KeyFactory.h"

#include "objects/CertificateObject.h"
#include "objects/ObjectPolicy.h"
#include "store/StoreCipher.h"
#include "crypto/Certificate.h"
#include "crypto/GostR3410.h"
#include "crypto/Rsa.h"

namespace softtoken {
namespace {

using Origin = ObjectPolicy::Origin;

Bytes Label(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace

// Gives the template its class and key type, refusing contradicting ones.
Object KeyFactory::Typed(Object::Map attributes, CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType) {
    Object object(std::move(attributes));
    if (object.Has(CKA_CLASS)) Require(object.Class() == objectClass, CKR_TEMPLATE_INCONSISTENT);
    if (object.Has(CKA_KEY_TYPE)) Require(object.KeyType() == keyType, CKR_TEMPLATE_INCONSISTENT);
    object.SetUlong(CKA_CLASS, objectClass);
    object.SetUlong(CKA_KEY_TYPE, keyType);
    ObjectPolicy::Complete(object, Origin::Generate);
    return object;
}

void KeyFactory::MarkGenerated(Object& key, CK_MECHANISM_TYPE mechanism) {
    key.SetBool(CKA_LOCAL, true);
    key.SetUlong(CKA_KEY_GEN_MECHANISM, mechanism);
}

void KeyFactory::FillRsa(Object& publicKey, Object& privateKey, const crypto::RsaKeyComponents& rsa) {
    publicKey.Set(CKA_MODULUS, rsa.modulus);
    publicKey.Set(CKA_PUBLIC_EXPONENT, rsa.publicExponent);
    publicKey.SetUlong(CKA_MODULUS_BITS, static_cast<CK_ULONG>(rsa.modulus.size() * 8));
    FillRsaPrivate(privateKey, rsa);
}

void KeyFactory::FillRsaPrivate(Object& privateKey, const crypto::RsaKeyComponents& rsa) {
    privateKey.Set(CKA_MODULUS, rsa.modulus);
    privateKey.Set(CKA_PUBLIC_EXPONENT, rsa.publicExponent);
    privateKey.Set(CKA_PRIVATE_EXPONENT, rsa.privateExponent);
    privateKey.Set(CKA_PRIME_1, rsa.prime1);
    privateKey.Set(CKA_PRIME_2, rsa.prime2);
    privateKey.Set(CKA_EXPONENT_1, rsa.exponent1);
    privateKey.Set(CKA_EXPONENT_2, rsa.exponent2);
    privateKey.Set(CKA_COEFFICIENT, rsa.coefficient);
}

void KeyFactory::FillGost(Object& publicKey, Object& privateKey, const crypto::GostKeyComponents& gost) {
    publicKey.Set(CKA_VALUE, gost.publicValue);
    privateKey.Set(CKA_VALUE, gost.privateValue);
    for (Object* key : {&publicKey, &privateKey}) {
        key->Set(CKA_GOSTR3410_PARAMS, gost.paramsOid);
        if (!gost.hashParamsOid.empty()) key->Set(CKA_GOSTR3411_PARAMS, gost.hashParamsOid);
    }
}

void KeyFactory::WipeRsa(crypto::RsaKeyComponents& rsa) {
    for (Bytes* part : {&rsa.privateExponent, &rsa.prime1, &rsa.prime2, &rsa.exponent1, &rsa.exponent2,
                        &rsa.coefficient})
        StoreCipher::Wipe(*part);
}

std::vector<Object> KeyFactory::FromPkcs12(const crypto::Pkcs12Contents& contents) {
    const crypto::CertificateFields fields = crypto::Certificate::Parse(contents.certificateDer);
    const bool isRsa = contents.privateKey.rsa.has_value();
    Require(isRsa || contents.privateKey.gost.has_value(), CKR_DATA_INVALID);
    const CK_KEY_TYPE keyType = isRsa ? CKK_RSA : CKK_GOSTR3410;
    const Bytes label = Label(contents.friendlyName.empty() ? fields.commonName : contents.friendlyName);

    Object publicKey, privateKey;
    publicKey.SetBool(CKA_TOKEN, true);
    publicKey.SetBool(CKA_PRIVATE, false);
    privateKey.SetBool(CKA_TOKEN, true);
    privateKey.SetBool(CKA_PRIVATE, true);
    privateKey.SetBool(CKA_SENSITIVE, true);
    for (Object* key : {&publicKey, &privateKey}) {
        key->Set(CKA_LABEL, label);
        key->Set(CKA_SUBJECT, fields.subject);
    }
    publicKey = Typed(publicKey.Attributes(), CKO_PUBLIC_KEY, keyType);
    privateKey = Typed(privateKey.Attributes(), CKO_PRIVATE_KEY, keyType);
    if (isRsa) {
        crypto::RsaKeyComponents rsa = *contents.privateKey.rsa;
        FillRsa(publicKey, privateKey, rsa);
        WipeRsa(rsa);
    } else {
        crypto::GostKeyComponents gost = *contents.privateKey.gost;
        if (gost.publicValue.empty() && contents.publicKey.gost) gost.publicValue = contents.publicKey.gost->publicValue;
        FillGost(publicKey, privateKey, gost);
        StoreCipher::Wipe(gost.privateValue);
    }
    // Imported keys were not made here and were once outside the token.
    privateKey.SetBool(CKA_ALWAYS_SENSITIVE, false);
    privateKey.SetBool(CKA_NEVER_EXTRACTABLE, false);
    // One identifier for the three objects, as common practice derives it from the public key.
    const Bytes id = StoreCipher::Sha1(isRsa ? publicKey.Get(CKA_MODULUS) : publicKey.Get(CKA_VALUE));
    publicKey.Set(CKA_ID, id);
    privateKey.Set(CKA_ID, id);

    Object certificate = CertificateObject::Make(label, id, contents.certificateDer, fields);

    std::vector<Object> objects;
    objects.push_back(std::move(privateKey));
    objects.push_back(std::move(publicKey));
    objects.push_back(std::move(certificate));
    return objects;
}

}  // namespace softtoken
