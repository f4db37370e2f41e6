#include "store/StoreCipher.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <string.h>

#include <memory>

namespace softtoken {
namespace {

constexpr size_t IvSize = 12;
constexpr size_t TagSize = 16;

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

CipherCtx NewGcm(const Bytes& key, const unsigned char* iv, bool encrypt) {
    Require(key.size() == StoreCipher::KeySize, CKR_GENERAL_ERROR);
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    Require(ctx != nullptr, CKR_HOST_MEMORY);
    Require(EVP_CipherInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.data(), iv, encrypt ? 1 : 0) == 1,
            CKR_GENERAL_ERROR);
    return ctx;
}

void AddContext(EVP_CIPHER_CTX* ctx, const Bytes& context) {
    int outLen = 0;
    if (!context.empty())
        Require(EVP_CipherUpdate(ctx, nullptr, &outLen, context.data(), static_cast<int>(context.size())) == 1,
                CKR_GENERAL_ERROR);
}

}  // namespace

Bytes StoreCipher::Random(size_t count) {
    Bytes out(count);
    if (count) Require(RAND_bytes(out.data(), static_cast<int>(count)) == 1, CKR_GENERAL_ERROR);
    return out;
}

Bytes StoreCipher::DerivePinSecret(const Bytes& pin, const Bytes& salt, unsigned iterations) {
    Bytes out(KeySize);
    Require(PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(pin.data()), static_cast<int>(pin.size()), salt.data(),
                              static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                              static_cast<int>(out.size()), out.data()) == 1,
            CKR_GENERAL_ERROR);
    return out;
}

Bytes StoreCipher::Subkey(const Bytes& secret, const std::string& purpose) {
    Bytes input(purpose.begin(), purpose.end());
    input.insert(input.end(), secret.begin(), secret.end());
    Bytes out(SHA256_DIGEST_LENGTH);
    SHA256(input.data(), input.size(), out.data());
    Wipe(input);
    return out;
}

Bytes StoreCipher::Sha1(const Bytes& data) {
    Bytes out(SHA_DIGEST_LENGTH);
    SHA1(data.data(), data.size(), out.data());
    return out;
}

bool StoreCipher::EqualConstantTime(const Bytes& a, const Bytes& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

Bytes StoreCipher::Seal(const Bytes& key, const Bytes& plain, const Bytes& context) {
    Bytes out = Random(IvSize);
    CipherCtx ctx = NewGcm(key, out.data(), true);
    AddContext(ctx.get(), context);
    out.resize(IvSize + plain.size() + TagSize);
    int len = 0;
    if (!plain.empty())
        Require(EVP_CipherUpdate(ctx.get(), out.data() + IvSize, &len, plain.data(), static_cast<int>(plain.size())) == 1,
                CKR_GENERAL_ERROR);
    int finalLen = 0;
    Require(EVP_CipherFinal_ex(ctx.get(), out.data() + IvSize + len, &finalLen) == 1, CKR_GENERAL_ERROR);
    Require(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, TagSize, out.data() + IvSize + plain.size()) == 1,
            CKR_GENERAL_ERROR);
    return out;
}

std::optional<Bytes> StoreCipher::Open(const Bytes& key, const Bytes& sealed, const Bytes& context) {
    if (sealed.size() < IvSize + TagSize) return std::nullopt;
    const size_t bodySize = sealed.size() - IvSize - TagSize;
    CipherCtx ctx = NewGcm(key, sealed.data(), false);
    AddContext(ctx.get(), context);
    Bytes plain(bodySize);
    int len = 0;
    if (bodySize)
        Require(EVP_CipherUpdate(ctx.get(), plain.data(), &len, sealed.data() + IvSize, static_cast<int>(bodySize)) == 1,
                CKR_GENERAL_ERROR);
    Bytes tag(sealed.end() - TagSize, sealed.end());
    Require(EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, TagSize, tag.data()) == 1, CKR_GENERAL_ERROR);
    int finalLen = 0;
    if (EVP_CipherFinal_ex(ctx.get(), plain.data() + len, &finalLen) != 1) {
        Wipe(plain);
        return std::nullopt;
    }
    return plain;
}

// explicit_bzero is a plain memset the compiler may not drop; OPENSSL_cleanse's byte loop
// costs several times as much on the large buffers ciphers hand over.
void StoreCipher::Wipe(Bytes& secret) noexcept {
    if (!secret.empty()) explicit_bzero(secret.data(), secret.size());
    secret.clear();
}

}  // namespace softtoken
