#include "Rsa.h"

#include "GostEngine.h"
#include "OpenSsl.h"
#include "RsaEngine.h"
#include "RsaKeys.h"

#include <openssl/crypto.h>
#include <openssl/rsa.h>

namespace crypto {
namespace {

constexpr size_t kPkcs1Overhead = 11;

Bytes StripLeadingZeros(const Bytes& value) {
    size_t first = 0;
    while (first < value.size() && value[first] == 0) ++first;
    return Bytes(value.begin() + static_cast<std::ptrdiff_t>(first), value.end());
}

// Contexts and digests name the private RSA engine: no host registration can take them over.
EvpPkeyCtxPtr PkcsContext(evp_pkey_st* key) {
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, RsaEngine::Get()));
    if (!ctx) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate an RSA context");
    return ctx;
}

}  // namespace

RsaKeyComponents Rsa::Generate(CK_ULONG modulusBits, const Bytes& publicExponent) {
    if (modulusBits < kMinModulusBits || modulusBits > kMaxModulusBits)
        ThrowCrypto(CKR_KEY_SIZE_RANGE, "RSA modulus size out of range");
    Bytes exponent = StripLeadingZeros(publicExponent);
    if (publicExponent.empty()) exponent = {0x01, 0x00, 0x01};
    // An even exponent or one below 3 gives no usable key; more than 8 bytes is refused too.
    if (exponent.empty() || exponent.size() > 8 || (exponent.back() & 1) == 0 ||
        (exponent.size() == 1 && exponent[0] < 3))
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "unusable RSA public exponent");

    auto lock = GostEngine::Lock();
    EvpPkeyPtr key = RsaKeys::Generate(static_cast<int>(modulusBits), exponent);
    return RsaKeys::Export(key.get(), true);
}

Rsa::PrivateKey Rsa::LoadPrivate(const RsaKeyComponents& components) {
    auto lock = GostEngine::Lock();
    return PrivateKey(RsaKeys::LoadPrivate(components).release());
}

Rsa::PublicKey Rsa::LoadPublic(const Bytes& modulus, const Bytes& publicExponent) {
    auto lock = GostEngine::Lock();
    return PublicKey(RsaKeys::LoadPublic(modulus, publicExponent).release());
}

size_t Rsa::SignatureLength(const PrivateKey& key) { return static_cast<size_t>(EVP_PKEY_get_size(key.Get())); }

size_t Rsa::SignatureLength(const PublicKey& key) { return static_cast<size_t>(EVP_PKEY_get_size(key.Get())); }

Bytes Rsa::SignPkcs1Raw(const PrivateKey& key, const Bytes& data) {
    size_t k = SignatureLength(key);
    if (data.size() + kPkcs1Overhead > k) ThrowCrypto(CKR_DATA_LEN_RANGE, "data too long for the RSA key");
    auto lock = GostEngine::Lock();
    EvpPkeyCtxPtr ctx = PkcsContext(key.Get());
    Bytes signature(k);
    size_t length = k;
    if (EVP_PKEY_sign_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_sign(ctx.get(), signature.data(), &length, data.data(), data.size()) != 1 || length != k)
        ThrowCrypto(CKR_FUNCTION_FAILED, "RSA signing failed");
    return signature;
}

CK_RV Rsa::VerifyPkcs1Raw(const PublicKey& key, const Bytes& data, const Bytes& signature) {
    size_t k = SignatureLength(key);
    if (signature.size() != k) return CKR_SIGNATURE_LEN_RANGE;
    if (data.size() + kPkcs1Overhead > k) return CKR_SIGNATURE_INVALID;
    auto lock = GostEngine::Lock();
    EvpPkeyCtxPtr ctx = PkcsContext(key.Get());
    Bytes recovered(k);
    size_t length = k;
    if (EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set up RSA verification");
    int result = EVP_PKEY_verify_recover(ctx.get(), recovered.data(), &length, signature.data(), signature.size());
    ERR_clear_error();
    if (result != 1 || length != data.size()) return CKR_SIGNATURE_INVALID;
    return CRYPTO_memcmp(recovered.data(), data.data(), length) == 0 ? CKR_OK : CKR_SIGNATURE_INVALID;
}

Bytes Rsa::SignSha256Pkcs1(const PrivateKey& key, const Bytes& data) {
    if (data.size() > kMaxInputLength) ThrowCrypto(CKR_DATA_LEN_RANGE, "data too long");
    auto lock = GostEngine::Lock();
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    size_t length = SignatureLength(key);
    Bytes signature(length);
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), RsaEngine::Get(), key.Get()) != 1 ||
        EVP_DigestSign(ctx.get(), signature.data(), &length, data.data(), data.size()) != 1 ||
        length != signature.size())
        ThrowCrypto(CKR_FUNCTION_FAILED, "RSA SHA-256 signing failed");
    return signature;
}

CK_RV Rsa::VerifySha256Pkcs1(const PublicKey& key, const Bytes& data, const Bytes& signature) {
    if (signature.size() != SignatureLength(key)) return CKR_SIGNATURE_LEN_RANGE;
    if (data.size() > kMaxInputLength) ThrowCrypto(CKR_DATA_LEN_RANGE, "data too long");
    auto lock = GostEngine::Lock();
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), RsaEngine::Get(), key.Get()) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set up RSA SHA-256 verification");
    int result = EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), data.data(), data.size());
    ERR_clear_error();
    return result == 1 ? CKR_OK : CKR_SIGNATURE_INVALID;
}

}  // namespace crypto
