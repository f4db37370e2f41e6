#pragma once
// RSA signatures (PKCS#1 v1.5, PSS, raw): over data the caller gives in one piece (a
// DigestInfo, a digest, a raw block) or over data hashed here as it comes in parts.
#include "mechanisms/SignOperation.h"
#include "objects/Object.h"
#include "crypto/RsaHash.h"
#include "crypto/RsaPadding.h"

#include <optional>

namespace softtoken {

class RsaSignature : public SignOperation {
public:
    // hashHere: the digest padding.hash names is made here from the data, in parts.
    // CKR_MECHANISM_PARAM_INVALID when a PSS salt does not fit the key.
    RsaSignature(Object& key, bool verify, const crypto::RsaPadding& padding, bool hashHere);

    bool AllowsMultiPart() const override;
    void Update(const unsigned char* data, size_t length) override;
    size_t ResultLength() const override;
    Bytes Final() override;
    CK_RV Verify(const Bytes& signature) override;

private:
    Bytes Input();

    Object& m_key;
    crypto::RsaPadding m_padding;
    std::optional<crypto::RsaHash> m_hash;
    Bytes m_data;
    size_t m_length = 0;
};

}  // namespace softtoken
