#pragma once
// GOST R 34.10 signatures: over a hash the caller made, in one piece (CKM_GOSTR3410 over 32
// bytes with 2001 and 2012 256-bit keys, CKM_GOSTR3410_512 over 64 bytes), or over data hashed
// here in parts: GOST R 34.11-94 with 2001 keys (CKM_GOSTR3410_WITH_GOSTR3411), GOST R 34.11-2012
// with 2012 keys of the hash's size (CKM_GOSTR3410_WITH_GOSTR3411_12_256 and _12_512).
#include "mechanisms/SignOperation.h"
#include "objects/Object.h"
#include "crypto/MessageDigest.h"
#include "crypto/GostKey.h"

#include <memory>

namespace softtoken {

class GostR3410Signature : public SignOperation {
public:
    // CKR_KEY_TYPE_INCONSISTENT when the key's kind does not go with the mechanism.
    GostR3410Signature(CK_MECHANISM_TYPE mechanism, Object& key, bool verify);

    bool AllowsMultiPart() const override;
    void Update(const unsigned char* data, size_t length) override;
    size_t ResultLength() const override;
    Bytes Final() override;
    CK_RV Verify(const Bytes& signature) override;

private:
    Bytes Hash();

    Object& m_key;
    crypto::GostKind m_kind;
    std::unique_ptr<crypto::MessageDigest> m_digest;  // null: the caller passes the hash
    Bytes m_hash;
};

}  // namespace softtoken
