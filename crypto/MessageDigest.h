#pragma once
// An incremental message digest over any OpenSSL digest: data goes in in parts, one value
// comes out. The SHA family runs on the token's private engine, GOST digests on the GOST
// engine, so that no engine a host process registered takes them over.
#include "Bytes.h"

#include <memory>
#include <string>

struct engine_st;
struct evp_md_st;
struct evp_md_ctx_st;

namespace crypto {

class MessageDigest {
public:
    // A digest and the engine that runs it (null: OpenSSL's own choice).
    struct Algorithm {
        const evp_md_st* md;
        engine_st* engine;
    };
    // By OpenSSL's name: "SHA1", "SHA224", "SHA256", "SHA384", "SHA512" and the GOST engine's
    // "md_gost94", "md_gost12_256", "md_gost12_512". CKR_FUNCTION_FAILED for a name neither
    // engine has. Call with the crypto layer's lock held.
    static Algorithm Find(const std::string& name);

    explicit MessageDigest(const std::string& name);
    MessageDigest(const evp_md_st* md, engine_st* engine);

    void Update(const unsigned char* data, size_t length);
    size_t Size() const { return m_size; }
    // The digest of everything given; the digest takes no more data afterwards.
    Bytes Final();

private:
    void Start(const Algorithm& algorithm);

    struct ContextFree {
        void operator()(evp_md_ctx_st* context) const noexcept;
    };
    std::unique_ptr<evp_md_ctx_st, ContextFree> m_context;
    size_t m_size = 0;
};

}  // namespace crypto
