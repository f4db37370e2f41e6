#pragma once
// Reads the parameters of the RSA mechanisms (CK_RSA_PKCS_PSS_PARAMS, CK_RSA_PKCS_OAEP_PARAMS)
// into the crypto layer's padding, answering CKR_MECHANISM_PARAM_INVALID for anything the
// token cannot honour.
#include "crypto/RsaPadding.h"

namespace softtoken {

class RsaParameters {
public:
    // A mechanism without parameters (PKCS#1 v1.5 and raw); hash as RsaPadding::hash.
    static crypto::RsaPadding None(const CK_MECHANISM& mechanism, crypto::RsaPadding::Scheme scheme,
                                   CK_MECHANISM_TYPE hash = 0);
    // hash: the digest the mechanism makes itself, which hashAlg must name; 0 when the caller
    // hashes (any supported hashAlg).
    static crypto::RsaPadding Pss(const CK_MECHANISM& mechanism, CK_MECHANISM_TYPE hash);
    static crypto::RsaPadding Oaep(const CK_MECHANISM& mechanism);
};

}  // namespace softtoken
