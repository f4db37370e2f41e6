#include "Ecdsa.h"

#include "EcEngine.h"
#include "GostEngine.h"
#include "OpenSsl.h"

namespace crypto {
namespace {

using EcdsaSigPtr = OpenSslPtr<ECDSA_SIG, ECDSA_SIG_free>;

void CheckHash(const Bytes& hash) {
    if (hash.empty() || hash.size() > Ecdsa::kMaxHashLength) ThrowCrypto(CKR_DATA_LEN_RANGE, "ECDSA hash length");
}

EvpPkeyCtxPtr Context(evp_pkey_st* key) {
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, EcEngine::Get()));
    if (!ctx) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate an ECDSA context");
    return ctx;
}

// r||s from OpenSSL's DER form.
Bytes FixedWidth(const Bytes& der, size_t fieldBytes) {
    const unsigned char* p = der.data();
    EcdsaSigPtr sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size())));
    if (!sig) ThrowCrypto(CKR_FUNCTION_FAILED, "unreadable ECDSA signature");
    Bytes out(2 * fieldBytes);
    const int width = static_cast<int>(fieldBytes);
    if (BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), out.data(), width) != width ||
        BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), out.data() + fieldBytes, width) != width)
        ThrowCrypto(CKR_FUNCTION_FAILED, "ECDSA signature too long");
    return out;
}

Bytes ToDer(const Bytes& signature, size_t fieldBytes) {
    const int width = static_cast<int>(fieldBytes);
    BignumPtr r(BN_bin2bn(signature.data(), width, nullptr));
    BignumPtr s(BN_bin2bn(signature.data() + fieldBytes, width, nullptr));
    EcdsaSigPtr sig(ECDSA_SIG_new());
    if (!r || !s || !sig || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1)
        ThrowCrypto(CKR_HOST_MEMORY, "cannot hold an ECDSA signature");
    r.release();
    s.release();
    return EncodeDer<const ECDSA_SIG, i2d_ECDSA_SIG>(sig.get());
}

}  // namespace

Bytes Ecdsa::Sign(const EcKeys::PrivateKey& key, const EcCurve& curve, const Bytes& hash) {
    CheckHash(hash);
    auto lock = GostEngine::Lock();
    EvpPkeyCtxPtr ctx = Context(key.Get());
    size_t length = 0;
    if (EVP_PKEY_sign_init(ctx.get()) != 1 || EVP_PKEY_sign(ctx.get(), nullptr, &length, hash.data(), hash.size()) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "ECDSA signing failed");
    Bytes der(length);
    if (EVP_PKEY_sign(ctx.get(), der.data(), &length, hash.data(), hash.size()) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "ECDSA signing failed");
    der.resize(length);
    return FixedWidth(der, curve.fieldBytes);
}

CK_RV Ecdsa::Verify(const EcKeys::PublicKey& key, const EcCurve& curve, const Bytes& hash, const Bytes& signature) {
    CheckHash(hash);
    if (signature.size() != 2 * curve.fieldBytes) return CKR_SIGNATURE_LEN_RANGE;
    const Bytes der = ToDer(signature, curve.fieldBytes);
    auto lock = GostEngine::Lock();
    EvpPkeyCtxPtr ctx = Context(key.Get());
    if (EVP_PKEY_verify_init(ctx.get()) != 1) ThrowCrypto(CKR_FUNCTION_FAILED, "ECDSA verification failed");
    const int verdict = EVP_PKEY_verify(ctx.get(), der.data(), der.size(), hash.data(), hash.size());
    ERR_clear_error();
    return verdict == 1 ? CKR_OK : CKR_SIGNATURE_INVALID;
}

}  // namespace crypto
