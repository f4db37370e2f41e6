#pragma once
// Converts GOST R 34.10-2001 keys between their PKCS#11 layouts and the engine's EVP_PKEY,
// through the DER containers the engine reads (it has no raw-key import or export).
#include "GostKey.h"
#include "OpenSsl.h"

#include <string>

namespace crypto {

class GostKeys {
public:
    static constexpr size_t kPrivateLength = 32;
    static constexpr size_t kPublicLength = 64;

    // Dotted OID of a key parameter set the engine knows (empty DER: CryptoPro-A);
    // anything else: CKR_ATTRIBUTE_VALUE_INVALID.
    static std::string ParamSetText(const Bytes& paramsOidDer);
    static bool IsGost(const EVP_PKEY* key);

    // CKR_ATTRIBUTE_VALUE_INVALID for values of the wrong length or off the curve.
    static EvpPkeyPtr LoadPrivate(const Bytes& privateValue, const Bytes& paramsOidDer);
    static EvpPkeyPtr LoadPublic(const Bytes& publicValue, const Bytes& paramsOidDer);
    // The key's values; privateValue only when withPrivate and the key has one.
    static GostKeyComponents Export(const EVP_PKEY* key, bool withPrivate);
    // The order q of the key's group.
    static BignumPtr Order(const EVP_PKEY* key);

private:
    static Bytes AlgorithmIdentifier(const Bytes& paramsOidDer);
};

}  // namespace crypto
