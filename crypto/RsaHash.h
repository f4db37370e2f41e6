#pragma once
// The SHA-1 and SHA-2 hashes of the RSA mechanisms, named by their PKCS#11 digest mechanisms,
// hashed in parts on the token's private engine (MessageDigest): data is never kept.
#include "Bytes.h"
#include "CryptoError.h"
#include "MessageDigest.h"

#include <cstddef>

namespace crypto {

class RsaHash {
public:
    // hash: CKM_SHA_1, CKM_SHA224, CKM_SHA256, CKM_SHA384 or CKM_SHA512; CKR_MECHANISM_INVALID
    // for others.
    explicit RsaHash(CK_MECHANISM_TYPE hash);

    void Update(const unsigned char* data, size_t length);
    // The digest of everything given; the hash takes no more data afterwards.
    Bytes Final();

    // The digest length of a hash mechanism; 0 for one RsaHash does not know.
    static size_t Length(CK_MECHANISM_TYPE hash);
    // OpenSSL's name of the hash ("SHA256"); null for one RsaHash does not know.
    static const char* Name(CK_MECHANISM_TYPE hash);
    // The whole digest of data in one call.
    static Bytes Of(CK_MECHANISM_TYPE hash, const Bytes& data);

private:
    MessageDigest m_digest;
};

}  // namespace crypto
