#pragma once
// GOST R 34.10-2001 signatures: over a 32-byte hash the caller made (CKM_GOSTR3410, one
// piece) or over data hashed here with GOST R 34.11-94 (CKM_GOSTR3410_WITH_GOSTR3411).
#include "mechanisms/SignOperation.h"
#include "objects/Object.h"

namespace softtoken {

class GostR3410Signature : public SignOperation {
public:
    GostR3410Signature(CK_MECHANISM_TYPE mechanism, Object& key, bool verify);

    bool AllowsMultiPart() const override;
    void Update(const unsigned char* data, size_t length) override;
    size_t ResultLength() const override;
    Bytes Final() override;
    CK_RV Verify(const Bytes& signature) override;

private:
    Bytes Hash() const;

    CK_MECHANISM_TYPE m_mechanism;
    Object& m_key;
    Bytes m_data;
};

}  // namespace softtoken
