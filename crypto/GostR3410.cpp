#include "GostR3410.h"

#include "Der.h"
#include "GostEngine.h"
#include "GostKeys.h"
#include "OpenSsl.h"

namespace crypto {
namespace {

void CheckHashLength(const Bytes& hash32) {
    // The engine asserts (aborting the process) on any other length.
    if (hash32.size() != GostR3410::kHashLength)
        ThrowCrypto(CKR_DATA_LEN_RANGE, "GOST R 34.10-2001 signs exactly 32 bytes");
}

// 0 < v < q for the big-endian half of a signature; the engine itself accepts v == q.
bool InRange(const unsigned char* bigEndian, const BIGNUM* order) {
    BignumPtr value(BN_bin2bn(bigEndian, 32, nullptr));
    if (!value) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate a big number");
    return !BN_is_zero(value.get()) && BN_cmp(value.get(), order) < 0;
}

}  // namespace

Bytes GostR3410::DefaultParamsOid() { return Der::OidDer("1.2.643.2.2.35.1"); }

Bytes GostR3410::DefaultHashParamsOid() { return Der::OidDer("1.2.643.2.2.30.1"); }

bool GostR3410::IsKnownParamSet(const Bytes& paramsOidDer) {
    try {
        GostKeys::ParamSetText(paramsOidDer);
        return true;
    } catch (const CryptoError&) {
        return false;
    }
}

GostKeyComponents GostR3410::Generate(const Bytes& paramsOidDer) {
    auto lock = GostEngine::Lock();
    std::string paramSet = GostKeys::ParamSetText(paramsOidDer);
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(NID_id_GostR3410_2001, GostEngine::Get()));
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_ctrl_str(ctx.get(), "paramset", paramSet.c_str()) <= 0)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set up GOST R 34.10-2001 key generation");
    EVP_PKEY* raw = nullptr;
    if (EVP_PKEY_keygen(ctx.get(), &raw) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "GOST R 34.10-2001 key generation failed");
    EvpPkeyPtr key(raw);
    GostKeyComponents out = GostKeys::Export(key.get(), true);
    ERR_clear_error();
    return out;
}

GostR3410::PrivateKey GostR3410::LoadPrivate(const Bytes& privateValue, const Bytes& paramsOidDer) {
    auto lock = GostEngine::Lock();
    GostEngine::Get();
    return PrivateKey(GostKeys::LoadPrivate(privateValue, paramsOidDer).release());
}

GostR3410::PublicKey GostR3410::LoadPublic(const Bytes& publicValue, const Bytes& paramsOidDer) {
    auto lock = GostEngine::Lock();
    GostEngine::Get();
    return PublicKey(GostKeys::LoadPublic(publicValue, paramsOidDer).release());
}

Bytes GostR3410::Sign(const PrivateKey& key, const Bytes& hash32) {
    CheckHashLength(hash32);
    auto lock = GostEngine::Lock();
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.Get(), GostEngine::Get()));
    size_t length = kSignatureLength;
    Bytes signature(length);
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        EVP_PKEY_sign(ctx.get(), signature.data(), &length, hash32.data(), hash32.size()) != 1 ||
        length != kSignatureLength)
        ThrowCrypto(CKR_FUNCTION_FAILED, "GOST R 34.10-2001 signing failed");
    ERR_clear_error();
    return signature;
}

Bytes GostR3410::Sign(const GostKeyComponents& key, const Bytes& hash32) {
    CheckHashLength(hash32);
    return Sign(LoadPrivate(key.privateValue, key.paramsOid), hash32);
}

CK_RV GostR3410::Verify(const PublicKey& key, const Bytes& hash32, const Bytes& signature) {
    CheckHashLength(hash32);
    if (signature.size() != kSignatureLength) return CKR_SIGNATURE_LEN_RANGE;
    auto lock = GostEngine::Lock();
    BignumPtr order = GostKeys::Order(key.Get());
    if (!InRange(signature.data(), order.get()) || !InRange(signature.data() + 32, order.get()))
        return CKR_SIGNATURE_INVALID;
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.Get(), GostEngine::Get()));
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set up GOST R 34.10-2001 verification");
    int result = EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), hash32.data(), hash32.size());
    ERR_clear_error();
    return result == 1 ? CKR_OK : CKR_SIGNATURE_INVALID;
}

CK_RV GostR3410::Verify(const Bytes& publicValue, const Bytes& paramsOidDer, const Bytes& hash32,
                        const Bytes& signature) {
    CheckHashLength(hash32);
    if (signature.size() != kSignatureLength) return CKR_SIGNATURE_LEN_RANGE;
    return Verify(LoadPublic(publicValue, paramsOidDer), hash32, signature);
}

Bytes GostR3410::PublicFromPrivate(const Bytes& privateValue, const Bytes& paramsOidDer) {
    auto lock = GostEngine::Lock();
    GostEngine::Get();
    EvpPkeyPtr pkey = GostKeys::LoadPrivate(privateValue, paramsOidDer);
    return GostKeys::Export(pkey.get(), false).publicValue;
}

}  // namespace crypto
