#include "RsaHash.h"

#include "GostEngine.h"
#include "OpenSsl.h"
#include "RsaEngine.h"

namespace crypto {

void MdContextDeleter::operator()(evp_md_ctx_st* ctx) const noexcept { EVP_MD_CTX_free(ctx); }

RsaHash::RsaHash(CK_MECHANISM_TYPE hash) : m_ctx(EVP_MD_CTX_new()) {
    if (!m_ctx) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate a digest context");
    auto lock = GostEngine::Lock();
    const EVP_MD* md = RsaEngine::Digest(hash);
    if (md == nullptr) ThrowCrypto(CKR_MECHANISM_INVALID, "no such hash for RSA");
    if (EVP_DigestInit_ex(m_ctx.get(), md, RsaEngine::Get()) != 1) ThrowCrypto(CKR_FUNCTION_FAILED, "cannot start a hash");
}

void RsaHash::Update(const unsigned char* data, size_t length) {
    if (length != 0 && EVP_DigestUpdate(m_ctx.get(), data, length) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "hashing failed");
}

Bytes RsaHash::Final() {
    Bytes digest(static_cast<size_t>(EVP_MD_CTX_get_size(m_ctx.get())));
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_ctx.get(), digest.data(), &length) != 1 || length != digest.size() ||
        EVP_DigestInit_ex(m_ctx.get(), EVP_MD_CTX_get0_md(m_ctx.get()), nullptr) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "hashing failed");
    return digest;
}

size_t RsaHash::Length(CK_MECHANISM_TYPE hash) {
    switch (hash) {
    case CKM_SHA_1: return 20;
    case CKM_SHA224: return 28;
    case CKM_SHA256: return 32;
    case CKM_SHA384: return 48;
    case CKM_SHA512: return 64;
    default: return 0;
    }
}

Bytes RsaHash::Of(CK_MECHANISM_TYPE hash, const Bytes& data) {
    if (data.size() > kMaxInputLength) ThrowCrypto(CKR_DATA_LEN_RANGE, "data too long");
    RsaHash hasher(hash);
    hasher.Update(data.data(), data.size());
    return hasher.Final();
}

}  // namespace crypto
