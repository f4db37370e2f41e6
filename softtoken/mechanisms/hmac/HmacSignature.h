#pragma once
// An HMAC under a secret key's value, fed part by part; the general-length mechanisms give
// the first bytes of it. Verification is SignOperation's constant-time comparison.
#include "mechanisms/SignOperation.h"

#include "crypto/Hmac.h"

#include <string>

namespace softtoken {

class HmacSignature : public SignOperation {
public:
    // outputLength: at most the digest's length (the caller checked it against the mechanism).
    HmacSignature(const std::string& digestName, const Bytes& key, size_t outputLength);

    void Update(const unsigned char* data, size_t length) override;
    size_t ResultLength() const override;
    Bytes Final() override;

private:
    crypto::Hmac m_hmac;
    size_t m_length;
};

}  // namespace softtoken
