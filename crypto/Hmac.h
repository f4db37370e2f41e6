#pragma once
// An incremental HMAC over a digest of MessageDigest::Find (the SHA family, GOST digests):
// data goes in in parts, the full-length MAC comes out.
#include "Bytes.h"

#include <memory>
#include <string>

struct hmac_ctx_st;

namespace crypto {

class Hmac {
public:
    // The key is copied into the context (which wipes it when freed); any length, empty too.
    Hmac(const std::string& digestName, const Bytes& key);

    void Update(const unsigned char* data, size_t length);
    size_t Size() const { return m_size; }
    // The MAC of everything given; the context takes no more data afterwards.
    Bytes Final();

private:
    struct ContextFree {
        void operator()(hmac_ctx_st* context) const noexcept;
    };
    std::unique_ptr<hmac_ctx_st, ContextFree> m_context;
    size_t m_size = 0;
};

}  // namespace crypto
