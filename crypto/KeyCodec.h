#pragma once
// Converts a KeyMaterial (RSA or GOST) to and from EVP_PKEY for the CSR, CMS, certificate
// and PKCS#12 code.
#include "KeyMaterial.h"
#include "OpenSsl.h"

namespace crypto {

class KeyCodec {
public:
    // failure: the code to throw when the material holds no usable key of either kind.
    static EvpPkeyPtr LoadPrivate(const KeyMaterial& key, CK_RV failure);
    static EvpPkeyPtr LoadPublic(const KeyMaterial& key, CK_RV failure);
    // An empty KeyMaterial for key types the token does not handle.
    static KeyMaterial Export(const EVP_PKEY* key, bool withPrivate);
};

}  // namespace crypto
