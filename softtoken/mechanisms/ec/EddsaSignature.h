#pragma once
// Pure Ed25519 signatures (CKM_EDDSA) over a message given in one piece.
#include "mechanisms/SignOperation.h"
#include "objects/Object.h"

namespace softtoken {

class EddsaSignature : public SignOperation {
public:
    EddsaSignature(Object& key, bool verify);

    bool AllowsMultiPart() const override;
    void Update(const unsigned char* data, size_t length) override;
    size_t ResultLength() const override;
    Bytes Final() override;
    CK_RV Verify(const Bytes& signature) override;

private:
    Object& m_key;
    Bytes m_message;
};

}  // namespace softtoken
