#pragma once
// CKM_GOSTR3411 (GOST R 34.11-94, CryptoPro hash parameters) and CKM_GOSTR3411_12_256/512
// (GOST R 34.11-2012) digests, in one piece or in parts.
#include "mechanisms/SignOperation.h"
#include "crypto/GostDigest.h"

namespace softtoken {

class GostDigestOperation : public SignOperation {
public:
    explicit GostDigestOperation(crypto::GostDigest::Algorithm algorithm);

    void Update(const unsigned char* data, size_t length) override;
    size_t ResultLength() const override;
    Bytes Final() override;

private:
    crypto::GostDigest m_digest;
};

}  // namespace softtoken
