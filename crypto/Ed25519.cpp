#include "Ed25519.h"

#include "OpenSsl.h"

namespace crypto {
namespace {

EvpMdCtxPtr NewContext() {
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate an Ed25519 context");
    return ctx;
}

}  // namespace

Bytes Ed25519::Sign(const EcKeys::PrivateKey& key, const Bytes& message) {
    if (message.size() > kMaxInputLength) ThrowCrypto(CKR_DATA_LEN_RANGE, "message too long");
    EvpMdCtxPtr ctx = NewContext();
    Bytes signature(kSignatureLength);
    size_t length = signature.size();
    if (EVP_DigestSignInit_ex(ctx.get(), nullptr, nullptr, nullptr, nullptr, key.Get(), nullptr) != 1 ||
        EVP_DigestSign(ctx.get(), signature.data(), &length, message.data(), message.size()) != 1 ||
        length != kSignatureLength)
        ThrowCrypto(CKR_FUNCTION_FAILED, "Ed25519 signing failed");
    return signature;
}

CK_RV Ed25519::Verify(const EcKeys::PublicKey& key, const Bytes& message, const Bytes& signature) {
    if (signature.size() != kSignatureLength) return CKR_SIGNATURE_LEN_RANGE;
    if (message.size() > kMaxInputLength) ThrowCrypto(CKR_DATA_LEN_RANGE, "message too long");
    EvpMdCtxPtr ctx = NewContext();
    if (EVP_DigestVerifyInit_ex(ctx.get(), nullptr, nullptr, nullptr, nullptr, key.Get(), nullptr) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "Ed25519 verification failed");
    const int verdict = EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(), message.size());
    ERR_clear_error();
    return verdict == 1 ? CKR_OK : CKR_SIGNATURE_INVALID;
}

}  // namespace crypto
