#pragma once
// ECDSA signatures: over a hash the caller made (CKM_ECDSA, one piece) or over data hashed
// here in parts with SHA-1 or SHA-2 (CKM_ECDSA_SHA1 ... CKM_ECDSA_SHA512).
#include "mechanisms/SignOperation.h"
#include "objects/Object.h"
#include "crypto/EcParams.h"
#include "crypto/HashContext.h"

#include <optional>

namespace softtoken {

class EcdsaSignature : public SignOperation {
public:
    EcdsaSignature(CK_MECHANISM_TYPE mechanism, Object& key, bool verify);

    bool AllowsMultiPart() const override;
    void Update(const unsigned char* data, size_t length) override;
    size_t ResultLength() const override;
    Bytes Final() override;
    CK_RV Verify(const Bytes& signature) override;

private:
    Bytes Hash();

    Object& m_key;
    const crypto::EcCurve* m_curve = nullptr;
    std::optional<crypto::HashContext> m_hash;  // absent for CKM_ECDSA
    Bytes m_data;                               // CKM_ECDSA: the caller's hash
};

}  // namespace softtoken
