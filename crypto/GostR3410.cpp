#include "GostR3410.h"

#include "Der.h"
#include "GostEngine.h"
#include "GostKeys.h"
#include "OpenSsl.h"

namespace crypto {
namespace {

void CheckHashLength(GostKind kind, const Bytes& hash) {
    // The engine asserts (aborting the process) on any other length.
    if (hash.size() != GostR3410::HashLength(kind))
        ThrowCrypto(CKR_DATA_LEN_RANGE, "GOST R 34.10 signs exactly the key's hash length");
}

// 0 < v < q for a big-endian half of a signature; the engine itself accepts v == q.
bool InRange(const unsigned char* bigEndian, size_t length, const BIGNUM* order) {
    BignumPtr value(BN_bin2bn(bigEndian, static_cast<int>(length), nullptr));
    if (!value) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate a big number");
    return !BN_is_zero(value.get()) && BN_cmp(value.get(), order) < 0;
}

int NidOf(GostKind kind) {
    if (kind == GostKind::R2012_256) return NID_id_GostR3410_2012_256;
    if (kind == GostKind::R2012_512) return NID_id_GostR3410_2012_512;
    return NID_id_GostR3410_2001;
}

}  // namespace

Bytes GostR3410::DefaultParamsOid() { return Der::OidDer("1.2.643.2.2.35.1"); }

Bytes GostR3410::DefaultHashParamsOid() { return Der::OidDer("1.2.643.2.2.30.1"); }

Bytes GostR3410::HashParamsOid(GostKind kind) { return Der::OidDer(GostKeys::HashOid(kind)); }

size_t GostR3410::HashLength(GostKind kind) { return GostKeys::PrivateLength(kind); }

size_t GostR3410::SignatureLength(GostKind kind) { return 2 * GostKeys::PrivateLength(kind); }

bool GostR3410::IsKnownParamSet(const Bytes& paramsOidDer) { return IsKnownParamSet(GostKind::R2001, paramsOidDer); }

bool GostR3410::IsKnownParamSet(GostKind kind, const Bytes& paramsOidDer) {
    try {
        GostKeys::ParamSetText(kind, paramsOidDer);
        return true;
    } catch (const CryptoError&) {
        return false;
    }
}

GostKind GostR3410::KindOf(bool is512, const Bytes& paramsOidDer, const Bytes& hashParamsOidDer) {
    if (is512) return GostKind::R2012_512;
    if (Der::OidText(hashParamsOidDer) == GostKeys::HashOid(GostKind::R2012_256) || GostKeys::Is2012Only(paramsOidDer))
        return GostKind::R2012_256;
    return GostKind::R2001;
}

GostKeyComponents GostR3410::Generate(const Bytes& paramsOidDer) { return Generate(GostKind::R2001, paramsOidDer); }

GostKeyComponents GostR3410::Generate(GostKind kind, const Bytes& paramsOidDer) {
    auto lock = GostEngine::Lock();
    std::string paramSet = GostKeys::ParamSetText(kind, paramsOidDer);
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(NidOf(kind), GostEngine::Get()));
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_ctrl_str(ctx.get(), "paramset", paramSet.c_str()) <= 0)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set up GOST R 34.10 key generation");
    EVP_PKEY* raw = nullptr;
    if (EVP_PKEY_keygen(ctx.get(), &raw) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "GOST R 34.10 key generation failed");
    EvpPkeyPtr key(raw);
    GostKeyComponents out = GostKeys::Export(key.get(), true);
    ERR_clear_error();
    return out;
}

GostR3410::PrivateKey GostR3410::LoadPrivate(const Bytes& privateValue, const Bytes& paramsOidDer) {
    return LoadPrivate(GostKind::R2001, privateValue, paramsOidDer);
}

GostR3410::PublicKey GostR3410::LoadPublic(const Bytes& publicValue, const Bytes& paramsOidDer) {
    return LoadPublic(GostKind::R2001, publicValue, paramsOidDer);
}

GostR3410::PrivateKey GostR3410::LoadPrivate(GostKind kind, const Bytes& privateValue, const Bytes& paramsOidDer) {
    auto lock = GostEngine::Lock();
    GostEngine::Get();
    return PrivateKey(GostKeys::LoadPrivate(kind, privateValue, paramsOidDer).release());
}

GostR3410::PublicKey GostR3410::LoadPublic(GostKind kind, const Bytes& publicValue, const Bytes& paramsOidDer) {
    auto lock = GostEngine::Lock();
    GostEngine::Get();
    return PublicKey(GostKeys::LoadPublic(kind, publicValue, paramsOidDer).release());
}

Bytes GostR3410::Sign(const PrivateKey& key, const Bytes& hash) {
    const GostKind kind = GostKeys::KindOf(key.Get());
    CheckHashLength(kind, hash);
    auto lock = GostEngine::Lock();
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.Get(), GostEngine::Get()));
    size_t length = SignatureLength(kind);
    Bytes signature(length);
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        EVP_PKEY_sign(ctx.get(), signature.data(), &length, hash.data(), hash.size()) != 1 ||
        length != signature.size())
        ThrowCrypto(CKR_FUNCTION_FAILED, "GOST R 34.10 signing failed");
    ERR_clear_error();
    return signature;
}

Bytes GostR3410::Sign(const GostKeyComponents& key, const Bytes& hash32) {
    CheckHashLength(GostKind::R2001, hash32);
    return Sign(LoadPrivate(key.privateValue, key.paramsOid), hash32);
}

CK_RV GostR3410::Verify(const PublicKey& key, const Bytes& hash, const Bytes& signature) {
    const GostKind kind = GostKeys::KindOf(key.Get());
    CheckHashLength(kind, hash);
    if (signature.size() != SignatureLength(kind)) return CKR_SIGNATURE_LEN_RANGE;
    const size_t half = signature.size() / 2;
    auto lock = GostEngine::Lock();
    BignumPtr order = GostKeys::Order(key.Get());
    if (!InRange(signature.data(), half, order.get()) || !InRange(signature.data() + half, half, order.get()))
        return CKR_SIGNATURE_INVALID;
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.Get(), GostEngine::Get()));
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set up GOST R 34.10 verification");
    int result = EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), hash.data(), hash.size());
    ERR_clear_error();
    return result == 1 ? CKR_OK : CKR_SIGNATURE_INVALID;
}

CK_RV GostR3410::Verify(const Bytes& publicValue, const Bytes& paramsOidDer, const Bytes& hash32,
                        const Bytes& signature) {
    CheckHashLength(GostKind::R2001, hash32);
    if (signature.size() != kSignatureLength) return CKR_SIGNATURE_LEN_RANGE;
    return Verify(LoadPublic(publicValue, paramsOidDer), hash32, signature);
}

Bytes GostR3410::PublicFromPrivate(const Bytes& privateValue, const Bytes& paramsOidDer) {
    return PublicFromPrivate(GostKind::R2001, privateValue, paramsOidDer);
}

Bytes GostR3410::PublicFromPrivate(GostKind kind, const Bytes& privateValue, const Bytes& paramsOidDer) {
    auto lock = GostEngine::Lock();
    GostEngine::Get();
    EvpPkeyPtr pkey = GostKeys::LoadPrivate(kind, privateValue, paramsOidDer);
    return GostKeys::Export(pkey.get(), false).publicValue;
}

Bytes GostR3410::ToPkcs8(const PrivateKey& key) {
    auto lock = GostEngine::Lock();
    Pkcs8Ptr info(EVP_PKEY2PKCS8(key.Get()));
    if (!info) ThrowCrypto(CKR_FUNCTION_FAILED, "the engine cannot write the GOST private key");
    Bytes der = EncodeDer<const PKCS8_PRIV_KEY_INFO, i2d_PKCS8_PRIV_KEY_INFO>(info.get());
    ERR_clear_error();
    return der;
}

GostKeyComponents GostR3410::FromPkcs8(const Bytes& der, GostKind& kind) {
    auto lock = GostEngine::Lock();
    GostEngine::Get();
    const unsigned char* p = der.data();
    Pkcs8Ptr info(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size())));
    if (!info || p != der.data() + der.size()) ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "not a PrivateKeyInfo");
    EvpPkeyPtr key(EVP_PKCS82PKEY(info.get()));
    const int id = key ? EVP_PKEY_get_base_id(key.get()) : NID_undef;
    if (id != NID_id_GostR3410_2001 && id != NID_id_GostR3410_2012_256 && id != NID_id_GostR3410_2012_512)
        ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "not a GOST R 34.10 private key");
    kind = GostKeys::KindOf(key.get());
    GostKeyComponents out = GostKeys::Export(key.get(), true);
    if (out.privateValue.empty()) ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "the key has no private value");
    ERR_clear_error();
    return out;
}

}  // namespace crypto
