#include "MessageDigest.h"

#include "GostEngine.h"
#include "OpenSsl.h"
#include "RsaEngine.h"

#include <openssl/engine.h>
#include <openssl/objects.h>

namespace crypto {

void MessageDigest::ContextFree::operator()(evp_md_ctx_st* context) const noexcept { EVP_MD_CTX_free(context); }

MessageDigest::Algorithm MessageDigest::Find(const std::string& name) {
    const int nid = OBJ_txt2nid(name.c_str());
    if (nid == NID_undef) ThrowCrypto(CKR_FUNCTION_FAILED, "unknown digest " + name);
    ENGINE* own = RsaEngine::Get();
    if (const EVP_MD* md = ENGINE_get_digest(own, nid)) return {md, own};
    ERR_clear_error();
    ENGINE* gost = GostEngine::Get();
    if (const EVP_MD* md = ENGINE_get_digest(gost, nid)) return {md, gost};
    ThrowCrypto(CKR_FUNCTION_FAILED, "digest not available: " + name);
}

MessageDigest::MessageDigest(const std::string& name) {
    auto lock = GostEngine::Lock();
    Start(Find(name));
}

MessageDigest::MessageDigest(const evp_md_st* md, engine_st* engine) {
    auto lock = GostEngine::Lock();
    Start({md, engine});
}

void MessageDigest::Start(const Algorithm& algorithm) {
    if (algorithm.md == nullptr) ThrowCrypto(CKR_FUNCTION_FAILED, "digest not available");
    m_context.reset(EVP_MD_CTX_new());
    if (!m_context) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate a digest context");
    if (EVP_DigestInit_ex(m_context.get(), algorithm.md, algorithm.engine) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "digest initialisation failed");
    m_size = static_cast<size_t>(EVP_MD_get_size(algorithm.md));
}

void MessageDigest::Update(const unsigned char* data, size_t length) {
    if (length == 0) return;
    if (!m_context) ThrowCrypto(CKR_FUNCTION_FAILED, "digest already finished");
    auto lock = GostEngine::Lock();
    if (EVP_DigestUpdate(m_context.get(), data, length) != 1) ThrowCrypto(CKR_FUNCTION_FAILED, "digest failed");
}

Bytes MessageDigest::Final() {
    if (!m_context) ThrowCrypto(CKR_FUNCTION_FAILED, "digest already finished");
    auto lock = GostEngine::Lock();
    Bytes out(m_size);
    unsigned int length = 0;
    const bool done = EVP_DigestFinal_ex(m_context.get(), out.data(), &length) == 1 && length == out.size();
    m_context.reset();
    if (!done) ThrowCrypto(CKR_FUNCTION_FAILED, "digest failed");
    return out;
}

}  // namespace crypto
