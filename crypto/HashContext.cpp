#include "HashContext.h"

#include "OpenSsl.h"

namespace crypto {
namespace {

using MdPtr = OpenSslPtr<EVP_MD, EVP_MD_free>;

}  // namespace

void HashContext::Deleter::operator()(evp_md_ctx_st* ctx) const noexcept { EVP_MD_CTX_free(ctx); }

HashContext::HashContext(const char* digestName) : m_ctx(EVP_MD_CTX_new()) {
    MdPtr md(EVP_MD_fetch(nullptr, digestName, nullptr));
    if (!m_ctx || !md || EVP_DigestInit_ex2(m_ctx.get(), md.get(), nullptr) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "digest unavailable");
}

HashContext::~HashContext() = default;
HashContext::HashContext(HashContext&&) noexcept = default;
HashContext& HashContext::operator=(HashContext&&) noexcept = default;

void HashContext::Update(const unsigned char* data, size_t length) {
    if (length != 0 && EVP_DigestUpdate(m_ctx.get(), data, length) != 1) ThrowCrypto(CKR_FUNCTION_FAILED, "digest failed");
}

Bytes HashContext::Final() {
    Bytes out(Length());
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_ctx.get(), out.data(), &length) != 1 || length != out.size())
        ThrowCrypto(CKR_FUNCTION_FAILED, "digest failed");
    return out;
}

size_t HashContext::Length() const { return static_cast<size_t>(EVP_MD_CTX_get_size(m_ctx.get())); }

}  // namespace crypto
