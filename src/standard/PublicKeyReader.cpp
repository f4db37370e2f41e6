#include "standard/PublicKeyReader.h"

#include "standard/AttributeReader.h"

#include "crypto/CryptoError.h"

namespace {

using crypto::CryptoError;

constexpr size_t kMaxModulusLength = 2048;     // 16384 bits, beyond any token's RSA keys
constexpr size_t kGostPublicLength = 64;       // X then Y, 32 bytes each
constexpr size_t kMaxOidLength = 64;           // DER of a parameter set identifier

crypto::RsaKeyComponents ReadRsa(const CAttributeReader& key)
{
    crypto::RsaKeyComponents rsa;
    rsa.modulus = key.Value(CKA_MODULUS, kMaxModulusLength);
    rsa.publicExponent = key.Value(CKA_PUBLIC_EXPONENT, kMaxModulusLength);
    return rsa;
}

crypto::GostKeyComponents ReadGost(const CAttributeReader& key)
{
    crypto::GostKeyComponents gost;
    gost.publicValue = key.Value(CKA_VALUE, kGostPublicLength);
    if (gost.publicValue.size() != kGostPublicLength)
        throw CryptoError(CKR_KEY_HANDLE_INVALID, "a GOST public value is 64 bytes");
    gost.paramsOid = key.Value(CKA_GOSTR3410_PARAMS, kMaxOidLength);
    gost.hashParamsOid = key.Optional(CKA_GOSTR3411_PARAMS, kMaxOidLength).value_or(crypto::Bytes());
    return gost;
}

}  // namespace

crypto::KeyMaterial CPublicKeyReader::Read(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session,
                                                      CK_OBJECT_HANDLE publicKey)
{
    const CAttributeReader key(functions, session, publicKey);
    if (key.Ulong(CKA_CLASS) != CKO_PUBLIC_KEY) throw CryptoError(CKR_KEY_HANDLE_INVALID, "not a public key");
    crypto::KeyMaterial material;
    switch (key.Ulong(CKA_KEY_TYPE)) {
    case CKK_RSA:
        material.rsa = ReadRsa(key);
        break;
    case CKK_GOSTR3410:
        material.gost = ReadGost(key);
        break;
    default:
        throw CryptoError(CKR_KEY_TYPE_INCONSISTENT, "neither an RSA nor a GOST R 34.10-2001 key");
    }
    return material;
}
