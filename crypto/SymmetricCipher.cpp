#include "SymmetricCipher.h"

#include "OpenSsl.h"

#include <openssl/provider.h>

#include <mutex>

namespace crypto {
namespace {

using CipherPtr = OpenSslPtr<EVP_CIPHER, EVP_CIPHER_free>;
using CipherCtxPtr = OpenSslPtr<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;

constexpr size_t kMaxGcmIvLength = 256;

// Single DES lives in OpenSSL's legacy provider. It is loaded into a library context of the
// module's own, so the host's default context stays as the host set it up. Never freed:
// contexts made from it may live until the process ends.
OSSL_LIB_CTX* LegacyContext() {
    static OSSL_LIB_CTX* context = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        context = OSSL_LIB_CTX_new();
        if (context == nullptr) return;
        OSSL_PROVIDER_load(context, "legacy");
        OSSL_PROVIDER_load(context, "default");
    });
    return context;
}

CipherPtr Fetch(const std::string& name) {
    CipherPtr cipher(EVP_CIPHER_fetch(nullptr, name.c_str(), nullptr));
    if (!cipher) {
        ERR_clear_error();
        if (OSSL_LIB_CTX* legacy = LegacyContext()) cipher.reset(EVP_CIPHER_fetch(legacy, name.c_str(), nullptr));
    }
    if (!cipher) ThrowCrypto(CKR_MECHANISM_INVALID, "cipher not available: " + name);
    return cipher;
}

bool IsGcm(const EVP_CIPHER* cipher) { return EVP_CIPHER_get_mode(cipher) == EVP_CIPH_GCM_MODE; }

}  // namespace

struct SymmetricCipher::Context {
    CipherPtr cipher;
    CipherCtxPtr ctx;
    bool encrypt = true;
};

SymmetricCipher::SymmetricCipher(const std::string& name, const Bytes& key, const Bytes& iv, bool encrypt,
                                 bool padding)
    : m_context(std::make_unique<Context>()) {
    Context& c = *m_context;
    c.cipher = Fetch(name);
    c.encrypt = encrypt;
    const EVP_CIPHER* cipher = c.cipher.get();
    if (key.size() != static_cast<size_t>(EVP_CIPHER_get_key_length(cipher)))
        ThrowCrypto(CKR_KEY_SIZE_RANGE, "wrong key length for " + name);
    const size_t ivLength = static_cast<size_t>(EVP_CIPHER_get_iv_length(cipher));
    const bool ivFits = IsGcm(cipher) ? !iv.empty() && iv.size() <= kMaxGcmIvLength
                                      : iv.size() == ivLength || (iv.empty() && EVP_CIPHER_get_mode(cipher) == EVP_CIPH_WRAP_MODE);
    if (!ivFits) ThrowCrypto(CKR_MECHANISM_PARAM_INVALID, "wrong IV length for " + name);
    c.ctx.reset(EVP_CIPHER_CTX_new());
    if (!c.ctx) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate a cipher context");
    EVP_CIPHER_CTX* ctx = c.ctx.get();
    EVP_CIPHER_CTX_set_flags(ctx, EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    const int direction = encrypt ? 1 : 0;
    bool ok = EVP_CipherInit_ex(ctx, cipher, nullptr, nullptr, nullptr, direction) == 1;
    if (ok && IsGcm(cipher))
        ok = EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(iv.size()), nullptr) == 1;
    ok = ok && EVP_CipherInit_ex(ctx, nullptr, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), direction) == 1;
    ok = ok && EVP_CIPHER_CTX_set_padding(ctx, padding ? 1 : 0) == 1;
    if (!ok) ThrowCrypto(CKR_FUNCTION_FAILED, "cannot start " + name);
}

SymmetricCipher::~SymmetricCipher() = default;
SymmetricCipher::SymmetricCipher(SymmetricCipher&&) noexcept = default;
SymmetricCipher& SymmetricCipher::operator=(SymmetricCipher&&) noexcept = default;

size_t SymmetricCipher::BlockSize() const { return static_cast<size_t>(EVP_CIPHER_get_block_size(m_context->cipher.get())); }

void SymmetricCipher::AddAuthenticated(const Bytes& data) {
    if (data.empty()) return;
    if (data.size() > kMaxInputLength) ThrowCrypto(CKR_MECHANISM_PARAM_INVALID, "additional data too long");
    int written = 0;
    if (EVP_CipherUpdate(m_context->ctx.get(), nullptr, &written, data.data(), static_cast<int>(data.size())) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot add authenticated data");
}

Bytes SymmetricCipher::Update(const unsigned char* data, size_t length) {
    if (length == 0) return {};
    if (length > kMaxInput) ThrowCrypto(m_context->encrypt ? CKR_DATA_LEN_RANGE : CKR_ENCRYPTED_DATA_LEN_RANGE, "input too long");
    // Room for a block held back from earlier pieces and for the eight bytes key wrap adds.
    Bytes out(length + 2 * BlockSize() + 16);
    int written = 0;
    if (EVP_CipherUpdate(m_context->ctx.get(), out.data(), &written, data, static_cast<int>(length)) != 1 || written < 0)
        ThrowCrypto(m_context->encrypt ? CKR_FUNCTION_FAILED : CKR_ENCRYPTED_DATA_INVALID, "cipher update failed");
    out.resize(static_cast<size_t>(written));
    return out;
}

Bytes SymmetricCipher::Final() {
    Bytes out(2 * BlockSize() + 16);
    int written = 0;
    if (EVP_CipherFinal_ex(m_context->ctx.get(), out.data(), &written) != 1 || written < 0)
        ThrowCrypto(m_context->encrypt ? CKR_DATA_LEN_RANGE : CKR_ENCRYPTED_DATA_INVALID, "cipher final failed");
    out.resize(static_cast<size_t>(written));
    return out;
}

Bytes SymmetricCipher::Tag(size_t length) {
    Bytes tag(length);
    if (EVP_CIPHER_CTX_ctrl(m_context->ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(length), tag.data()) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot read the tag");
    return tag;
}

void SymmetricCipher::ExpectTag(const Bytes& tag) {
    Bytes copy = tag;
    if (EVP_CIPHER_CTX_ctrl(m_context->ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(copy.size()), copy.data()) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set the tag");
}

}  // namespace crypto
