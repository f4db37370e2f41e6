#pragma once
// An incremental SHA-1 or SHA-2 hash on the RSA engine's own digests, for the hash-and-sign
// mechanisms: data is hashed as it comes, never kept.
#include "Bytes.h"
#include "CryptoError.h"

#include <cstddef>
#include <memory>

struct evp_md_ctx_st;

namespace crypto {

struct MdContextDeleter {
    void operator()(evp_md_ctx_st* ctx) const noexcept;
};

class RsaHash {
public:
    // hash: CKM_SHA_1, CKM_SHA224, CKM_SHA256, CKM_SHA384 or CKM_SHA512; CKR_MECHANISM_INVALID
    // for others.
    explicit RsaHash(CK_MECHANISM_TYPE hash);

    void Update(const unsigned char* data, size_t length);
    // The digest; the hash starts again afterwards.
    Bytes Final();

    // The digest length of a hash mechanism; 0 for one RsaHash does not know.
    static size_t Length(CK_MECHANISM_TYPE hash);
    // The whole digest of data in one call.
    static Bytes Of(CK_MECHANISM_TYPE hash, const Bytes& data);

private:
    std::unique_ptr<evp_md_ctx_st, MdContextDeleter> m_ctx;
};

}  // namespace crypto
