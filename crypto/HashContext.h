#pragma once
// An incremental message digest (SHA-1, SHA-2) for hash-then-sign mechanisms fed in parts.
#include "Bytes.h"
#include "CryptoError.h"

#include <memory>

struct evp_md_ctx_st;

namespace crypto {

class HashContext {
public:
    // digestName as OpenSSL names it ("SHA256"); CKR_FUNCTION_FAILED when it has none such.
    explicit HashContext(const char* digestName);
    ~HashContext();
    HashContext(HashContext&&) noexcept;
    HashContext& operator=(HashContext&&) noexcept;

    void Update(const unsigned char* data, size_t length);
    // The digest of everything given; the context is spent afterwards.
    Bytes Final();
    size_t Length() const;

private:
    struct Deleter {
        void operator()(evp_md_ctx_st* ctx) const noexcept;
    };
    std::unique_ptr<evp_md_ctx_st, Deleter> m_ctx;
};

}  // namespace crypto
