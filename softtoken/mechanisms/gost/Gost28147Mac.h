#pragma once
// The GOST 28147-89 MAC under a secret key's S-box, with an optional 8-byte IV.
#include "mechanisms/SignOperation.h"
#include "objects/Object.h"

namespace softtoken {

class Gost28147Mac : public SignOperation {
public:
    Gost28147Mac(const CK_MECHANISM& mechanism, Object& key);

    void Update(const unsigned char* data, size_t length) override;
    size_t ResultLength() const override;
    Bytes Final() override;

private:
    Object& m_key;
    Bytes m_iv;
    Bytes m_data;
};

}  // namespace softtoken
