#pragma once
// Converts GOST R 34.10-2001 and 34.10-2012 keys between their PKCS#11 layouts and the
// engine's EVP_PKEY, through the DER containers the engine reads (it has no raw-key import or
// export). The overloads without a kind are GOST R 34.10-2001.
#include "GostKey.h"
#include "OpenSsl.h"

#include <string>

namespace crypto {

class GostKeys {
public:
    static constexpr size_t kPrivateLength = 32;
    static constexpr size_t kPublicLength = 64;

    // The private value's length (32 or 64); the public value is twice as long.
    static size_t PrivateLength(GostKind kind);
    // The engine's key-generation name of a key parameter set of that kind (empty DER: the
    // kind's default); anything else: CKR_ATTRIBUTE_VALUE_INVALID.
    static std::string ParamSetText(GostKind kind, const Bytes& paramsOidDer);
    static std::string ParamSetText(const Bytes& paramsOidDer);
    // Dotted OIDs: the kind's default key parameter set and its hash (CKA_GOSTR3411_PARAMS).
    static const char* DefaultParamSet(GostKind kind);
    static const char* HashOid(GostKind kind);
    // Whether the parameter set is one of the 2012 sets that only 2012 keys have.
    static bool Is2012Only(const Bytes& paramsOidDer);
    static bool IsGost(const EVP_PKEY* key);  // a GOST R 34.10-2001 key
    // The key's kind; CKR_FUNCTION_FAILED for a key that is not GOST R 34.10.
    static GostKind KindOf(const EVP_PKEY* key);

    // CKR_ATTRIBUTE_VALUE_INVALID for values of the wrong length or off the curve.
    static EvpPkeyPtr LoadPrivate(GostKind kind, const Bytes& privateValue, const Bytes& paramsOidDer);
    static EvpPkeyPtr LoadPublic(GostKind kind, const Bytes& publicValue, const Bytes& paramsOidDer);
    static EvpPkeyPtr LoadPrivate(const Bytes& privateValue, const Bytes& paramsOidDer);
    static EvpPkeyPtr LoadPublic(const Bytes& publicValue, const Bytes& paramsOidDer);
    // The key's values; privateValue only when withPrivate and the key has one.
    static GostKeyComponents Export(const EVP_PKEY* key, bool withPrivate);
    // The order q of the key's group.
    static BignumPtr Order(const EVP_PKEY* key);

private:
    static Bytes AlgorithmIdentifier(GostKind kind, const Bytes& paramsOidDer);
};

}  // namespace crypto
