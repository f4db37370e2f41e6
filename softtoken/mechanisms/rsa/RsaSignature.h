#pragma once
// RSA signatures with PKCS#1 v1.5 padding: over data the caller hashed (CKM_RSA_PKCS, one
// piece) or hashed here with SHA-256 (CKM_SHA256_RSA_PKCS, in parts).
#include "mechanisms/SignOperation.h"
#include "objects/Object.h"

namespace softtoken {

class RsaSignature : public SignOperation {
public:
    RsaSignature(CK_MECHANISM_TYPE mechanism, Object& key, bool verify);

    bool AllowsMultiPart() const override;
    void Update(const unsigned char* data, size_t length) override;
    size_t ResultLength() const override;
    Bytes Final() override;
    CK_RV Verify(const Bytes& signature) override;

private:
    CK_MECHANISM_TYPE m_mechanism;
    Object& m_key;
    Bytes m_data;
};

}  // namespace softtoken
