#include "standard/Pkcs12Import.h"

#include "standard/CertificateTemplate.h"
#include "standard/CreatedObjects.h"

#include "crypto/Digest.h"

#include <openssl/crypto.h>

namespace {

using crypto::Bytes;
using crypto::CertificateFields;
using crypto::GostKeyComponents;
using crypto::Pkcs12Contents;
using crypto::RsaKeyComponents;

// What both keys and the certificate share.
struct Naming {
    std::string label;  // the file's friendly name, else the certificate's common name
    Bytes id;           // SHA-1 of the RSA modulus or of the GOST public value
    Bytes subject;
};

CAttributeTemplate KeyTemplate(CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType, const Naming& naming)
{
    const bool isPrivate = objectClass == CKO_PRIVATE_KEY;
    CAttributeTemplate key;
    key.Ulong(CKA_CLASS, objectClass)
        .Ulong(CKA_KEY_TYPE, keyType)
        .Bool(CKA_TOKEN, true)
        .Bool(CKA_PRIVATE, isPrivate)
        .Text(CKA_LABEL, naming.label)
        .Value(CKA_ID, naming.id)
        .Value(CKA_SUBJECT, naming.subject);
    if (isPrivate)
        key.Bool(CKA_SENSITIVE, true).Bool(CKA_SIGN, true);
    else
        key.Bool(CKA_VERIFY, true);
    return key;
}

void AddRsa(CAttributeTemplate& key, const RsaKeyComponents& rsa, bool withPrivate)
{
    key.Value(CKA_MODULUS, rsa.modulus).Value(CKA_PUBLIC_EXPONENT, rsa.publicExponent);
    if (!withPrivate) return;
    key.Value(CKA_PRIVATE_EXPONENT, rsa.privateExponent)
        .Value(CKA_PRIME_1, rsa.prime1)
        .Value(CKA_PRIME_2, rsa.prime2)
        .Value(CKA_EXPONENT_1, rsa.exponent1)
        .Value(CKA_EXPONENT_2, rsa.exponent2)
        .Value(CKA_COEFFICIENT, rsa.coefficient);
}

void AddGost(CAttributeTemplate& key, const GostKeyComponents& gost, bool withPrivate)
{
    key.Value(CKA_VALUE, withPrivate ? gost.privateValue : gost.publicValue)
        .Value(CKA_GOSTR3410_PARAMS, gost.paramsOid);
    if (!gost.hashParamsOid.empty()) key.Value(CKA_GOSTR3411_PARAMS, gost.hashParamsOid);
}

void Wipe(Bytes& secret) { OPENSSL_cleanse(secret.data(), secret.size()); }

}  // namespace

CPkcs12Import::CPkcs12Import(const Bytes& file, const unsigned char* password, CK_ULONG passwordLength)
{
    if (password == nullptr && passwordLength != 0)
        throw crypto::CryptoError(CKR_ARGUMENTS_BAD, "no password");
    Bytes secret(password, password + passwordLength);
    try {
        m_contents = crypto::Pkcs12::Parse(file, secret);
    } catch (...) {
        Wipe(secret);
        throw;
    }
    Wipe(secret);
}

CPkcs12Import::~CPkcs12Import()
{
    if (auto& rsa = m_contents.privateKey.rsa)
        for (Bytes* part : {&rsa->privateExponent, &rsa->prime1, &rsa->prime2, &rsa->exponent1, &rsa->exponent2,
                            &rsa->coefficient})
            Wipe(*part);
    if (auto& gost = m_contents.privateKey.gost) Wipe(gost->privateValue);
}

void CPkcs12Import::CreateObjects(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session) const
{
    const Pkcs12Contents& contents = m_contents;
    const CertificateFields fields = crypto::Certificate::Parse(contents.certificateDer);
    const bool isRsa = contents.privateKey.rsa && contents.publicKey.rsa;
    if (!isRsa && !(contents.privateKey.gost && contents.publicKey.gost))
        throw crypto::CryptoError(CKR_DATA_INVALID, "no key the token takes");

    Naming naming;
    naming.label = contents.friendlyName.empty() ? fields.commonName : contents.friendlyName;
    naming.id = crypto::Digest::Sha1(isRsa ? contents.publicKey.rsa->modulus
                                                      : contents.publicKey.gost->publicValue);
    naming.subject = fields.subject;

    const CK_KEY_TYPE keyType = isRsa ? CKK_RSA : CKK_GOSTR3410;
    CAttributeTemplate privateKey = KeyTemplate(CKO_PRIVATE_KEY, keyType, naming);
    CAttributeTemplate publicKey = KeyTemplate(CKO_PUBLIC_KEY, keyType, naming);
    if (isRsa) {
        AddRsa(privateKey, *contents.privateKey.rsa, true);
        AddRsa(publicKey, *contents.publicKey.rsa, false);
    } else {
        AddGost(privateKey, *contents.privateKey.gost, true);
        AddGost(publicKey, *contents.publicKey.gost, false);
    }
    CAttributeTemplate certificate =
        CCertificateTemplate::Make(naming.label, naming.id, contents.certificateDer, fields);

    CCreatedObjects created(functions, session);
    created.Create(privateKey);
    created.Create(publicKey);
    created.Create(certificate);
    created.Keep();
}
