#include "Cmac.h"

#include "OpenSsl.h"

#include <openssl/core_names.h>

namespace crypto {
namespace {

using MacPtr = OpenSslPtr<EVP_MAC, EVP_MAC_free>;
using MacCtxPtr = OpenSslPtr<EVP_MAC_CTX, EVP_MAC_CTX_free>;
using CipherPtr = OpenSslPtr<EVP_CIPHER, EVP_CIPHER_free>;

}  // namespace

struct Cmac::Context {
    MacCtxPtr ctx;
};

Cmac::Cmac(const std::string& cbcName, const Bytes& key) : m_context(std::make_unique<Context>()) {
    CipherPtr cipher(EVP_CIPHER_fetch(nullptr, cbcName.c_str(), nullptr));
    if (!cipher) ThrowCrypto(CKR_MECHANISM_INVALID, "cipher not available: " + cbcName);
    if (key.size() != static_cast<size_t>(EVP_CIPHER_get_key_length(cipher.get())))
        ThrowCrypto(CKR_KEY_SIZE_RANGE, "wrong key length for CMAC");
    MacPtr mac(EVP_MAC_fetch(nullptr, "CMAC", nullptr));
    if (!mac) ThrowCrypto(CKR_MECHANISM_INVALID, "CMAC not available");
    m_context->ctx.reset(EVP_MAC_CTX_new(mac.get()));
    if (!m_context->ctx) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate a MAC context");
    std::string name = cbcName;
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, name.data(), 0),
                                 OSSL_PARAM_construct_end()};
    if (EVP_MAC_init(m_context->ctx.get(), key.data(), key.size(), params) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot start CMAC");
}

Cmac::~Cmac() = default;
Cmac::Cmac(Cmac&&) noexcept = default;
Cmac& Cmac::operator=(Cmac&&) noexcept = default;

size_t Cmac::Length() const { return EVP_MAC_CTX_get_mac_size(m_context->ctx.get()); }

void Cmac::Update(const unsigned char* data, size_t length) {
    if (length == 0) return;
    if (EVP_MAC_update(m_context->ctx.get(), data, length) != 1) ThrowCrypto(CKR_FUNCTION_FAILED, "CMAC update failed");
}

Bytes Cmac::Final() {
    Bytes out(Length());
    size_t written = 0;
    if (EVP_MAC_final(m_context->ctx.get(), out.data(), &written, out.size()) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "CMAC final failed");
    out.resize(written);
    return out;
}

}  // namespace crypto
