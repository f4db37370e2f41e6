#include "Hmac.h"

#include "GostEngine.h"
#include "MessageDigest.h"
#include "OpenSsl.h"

#include <openssl/hmac.h>

namespace crypto {

void Hmac::ContextFree::operator()(hmac_ctx_st* context) const noexcept { HMAC_CTX_free(context); }

Hmac::Hmac(const std::string& digestName, const Bytes& key) {
    auto lock = GostEngine::Lock();
    const MessageDigest::Algorithm algorithm = MessageDigest::Find(digestName);
    if (key.size() > kMaxInputLength) ThrowCrypto(CKR_KEY_SIZE_RANGE, "HMAC key too long");
    m_context.reset(HMAC_CTX_new());
    if (!m_context) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate an HMAC context");
    // HMAC_Init_ex reads a null key as "keep the previous one": an empty key needs a pointer.
    static const unsigned char kEmpty = 0;
    if (HMAC_Init_ex(m_context.get(), key.empty() ? &kEmpty : key.data(), static_cast<int>(key.size()),
                     algorithm.md, algorithm.engine) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "HMAC initialisation failed");
    m_size = static_cast<size_t>(EVP_MD_get_size(algorithm.md));
}

void Hmac::Update(const unsigned char* data, size_t length) {
    if (length == 0) return;
    if (!m_context) ThrowCrypto(CKR_FUNCTION_FAILED, "HMAC already finished");
    auto lock = GostEngine::Lock();
    if (HMAC_Update(m_context.get(), data, length) != 1) ThrowCrypto(CKR_FUNCTION_FAILED, "HMAC failed");
}

Bytes Hmac::Final() {
    if (!m_context) ThrowCrypto(CKR_FUNCTION_FAILED, "HMAC already finished");
    auto lock = GostEngine::Lock();
    Bytes out(m_size);
    unsigned int length = 0;
    const bool done = HMAC_Final(m_context.get(), out.data(), &length) == 1 && length == out.size();
    m_context.reset();
    if (!done) ThrowCrypto(CKR_FUNCTION_FAILED, "HMAC failed");
    return out;
}

}  // namespace crypto
