#pragma once
// Detached CMS SignedData signatures that carry the signer's certificate.
#include "CryptoError.h"
#include "KeyMaterial.h"

namespace crypto {

class CmsSignature {
public:
    // A key that does not belong to the certificate: CKR_KEY_HANDLE_INVALID; a certificate that
    // does not parse: CKR_ATTRIBUTE_VALUE_INVALID. Returns DER.
    static Bytes SignDetached(const KeyMaterial& privateKey, const Bytes& certificateDer,
                              const Bytes& data);
    // Verifies with the certificate the signature carries, no trust chain: CKR_OK or
    // CKR_SIGNATURE_INVALID; CKR_SIGNATURE_LEN_RANGE for a blob that is not DER CMS,
    // CKR_ARGUMENTS_BAD for CMS that is not a detached SignedData with a signer.
    static CK_RV Verify(const Bytes& signature, const Bytes& data);
};

}  // namespace crypto
