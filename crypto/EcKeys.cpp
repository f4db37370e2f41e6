#include "EcKeys.h"

#include "OpenSsl.h"

#include <openssl/core_names.h>
#include <openssl/param_build.h>

#include <algorithm>

namespace crypto {
namespace {

using EcGroupPtr = OpenSslPtr<EC_GROUP, EC_GROUP_free>;
using SecretBignumPtr = OpenSslPtr<BIGNUM, BN_clear_free>;
using ParamBuildPtr = OpenSslPtr<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>;
using ParamsPtr = OpenSslPtr<OSSL_PARAM, OSSL_PARAM_free>;

[[noreturn]] void Invalid(const char* what) { ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, what); }

EcGroupPtr Group(const EcCurve& curve) {
    EcGroupPtr group(EC_GROUP_new_by_curve_name(OBJ_sn2nid(curve.groupName)));
    if (!group) ThrowCrypto(CKR_FUNCTION_FAILED, "cannot make the EC group");
    return group;
}

SecretBignumPtr Scalar(const Bytes& value) {
    SecretBignumPtr scalar(BN_secure_new());
    if (!scalar || !BN_bin2bn(value.data(), static_cast<int>(value.size()), scalar.get()))
        ThrowCrypto(CKR_HOST_MEMORY, "cannot hold the EC private value");
    return scalar;
}

Bytes PaddedBytes(const BIGNUM* number, size_t length) {
    Bytes out(length);
    if (BN_bn2binpad(number, out.data(), static_cast<int>(length)) != static_cast<int>(length))
        ThrowCrypto(CKR_FUNCTION_FAILED, "EC value too long");
    return out;
}

EvpPkeyPtr FromData(const char* type, int selection, OSSL_PARAM* params, CK_RV failure) {
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 || EVP_PKEY_fromdata(ctx.get(), &key, selection, params) != 1)
        ThrowCrypto(failure, "EC key not accepted");
    return EvpPkeyPtr(key);
}

EvpPkeyPtr LoadEc(const EcCurve& curve, const Bytes& rawPoint, const BIGNUM* scalar) {
    ParamBuildPtr builder(OSSL_PARAM_BLD_new());
    if (!builder || !OSSL_PARAM_BLD_push_utf8_string(builder.get(), OSSL_PKEY_PARAM_GROUP_NAME, curve.groupName, 0) ||
        !OSSL_PARAM_BLD_push_octet_string(builder.get(), OSSL_PKEY_PARAM_PUB_KEY, rawPoint.data(), rawPoint.size()) ||
        (scalar != nullptr && !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_PRIV_KEY, scalar)))
        ThrowCrypto(CKR_HOST_MEMORY, "cannot build EC key parameters");
    ParamsPtr params(OSSL_PARAM_BLD_to_param(builder.get()));
    if (!params) ThrowCrypto(CKR_HOST_MEMORY, "cannot build EC key parameters");
    return FromData("EC", scalar != nullptr ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params.get(),
                    CKR_ATTRIBUTE_VALUE_INVALID);
}

Bytes RawPublic(const EVP_PKEY* key, size_t length) {
    Bytes out(length);
    size_t written = length;
    if (EVP_PKEY_get_raw_public_key(key, out.data(), &written) != 1 || written != length)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot read the Ed25519 public key");
    return out;
}

EvpPkeyPtr LoadEd25519Private(const Bytes& seed) {
    EvpPkeyPtr key(EVP_PKEY_new_raw_private_key_ex(nullptr, "ED25519", nullptr, seed.data(), seed.size()));
    if (!key) ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "Ed25519 private key not accepted");
    return key;
}

EcKeyComponents Export(const EcCurve& curve, const EVP_PKEY* key) {
    EcKeyComponents out;
    out.params = EcParams::OidDer(curve);
    if (curve.edwards) {
        out.point = RawPublic(key, curve.fieldBytes);
        out.privateValue.resize(curve.fieldBytes);
        size_t written = curve.fieldBytes;
        if (EVP_PKEY_get_raw_private_key(key, out.privateValue.data(), &written) != 1 || written != curve.fieldBytes)
            ThrowCrypto(CKR_FUNCTION_FAILED, "cannot read the Ed25519 private key");
        return out;
    }
    BIGNUM* scalar = nullptr;
    if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &scalar) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot read the EC private key");
    SecretBignumPtr owner(scalar);
    out.privateValue = PaddedBytes(scalar, curve.fieldBytes);
    out.point = EcKeys::PublicPoint(curve, out.privateValue);
    return out;
}

}  // namespace

EcKeyComponents EcKeys::Generate(const EcCurve& curve) {
    EvpPkeyPtr key(curve.edwards ? EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")
                                 : EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curve.groupName));
    if (!key) ThrowCrypto(CKR_FUNCTION_FAILED, "EC key generation failed");
    return Export(curve, key.get());
}

void EcKeys::CheckPrivate(const EcCurve& curve, const Bytes& privateValue) {
    if (curve.edwards) {
        if (privateValue.size() != curve.fieldBytes) Invalid("Ed25519 private key not 32 bytes");
        return;
    }
    if (privateValue.empty() || privateValue.size() > curve.fieldBytes) Invalid("EC private value of wrong length");
    EcGroupPtr group = Group(curve);
    SecretBignumPtr scalar = Scalar(privateValue);
    if (BN_is_zero(scalar.get()) || BN_cmp(scalar.get(), EC_GROUP_get0_order(group.get())) >= 0)
        Invalid("EC private value out of range");
}

Bytes EcKeys::PublicPoint(const EcCurve& curve, const Bytes& privateValue) {
    CheckPrivate(curve, privateValue);
    if (curve.edwards) return RawPublic(LoadEd25519Private(privateValue).get(), curve.fieldBytes);
    EcGroupPtr group = Group(curve);
    SecretBignumPtr scalar = Scalar(privateValue);
    EcPointPtr point(EC_POINT_new(group.get()));
    BnCtxPtr bnCtx(BN_CTX_new());
    if (!point || !bnCtx || EC_POINT_mul(group.get(), point.get(), scalar.get(), nullptr, nullptr, bnCtx.get()) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot compute the EC public point");
    Bytes out(1 + 2 * curve.fieldBytes);
    if (EC_POINT_point2oct(group.get(), point.get(), POINT_CONVERSION_UNCOMPRESSED, out.data(), out.size(),
                           bnCtx.get()) != out.size())
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot encode the EC public point");
    return out;
}

EcKeys::PrivateKey EcKeys::LoadPrivate(const EcCurve& curve, const Bytes& privateValue) {
    if (curve.edwards) {
        CheckPrivate(curve, privateValue);
        return PrivateKey(LoadEd25519Private(privateValue).release());
    }
    const Bytes point = PublicPoint(curve, privateValue);
    SecretBignumPtr scalar = Scalar(privateValue);
    return PrivateKey(LoadEc(curve, point, scalar.get()).release());
}

EcKeys::PublicKey EcKeys::LoadPublic(const EcCurve& curve, const Bytes& rawPoint) {
    if (curve.edwards) {
        if (rawPoint.size() != curve.fieldBytes) Invalid("Ed25519 public key not 32 bytes");
        EvpPkeyPtr key(EVP_PKEY_new_raw_public_key_ex(nullptr, "ED25519", nullptr, rawPoint.data(), rawPoint.size()));
        if (!key) Invalid("Ed25519 public key not accepted");
        return PublicKey(key.release());
    }
    return PublicKey(LoadEc(curve, rawPoint, nullptr).release());
}

Bytes EcKeys::ToPkcs8(const EcCurve& curve, const Bytes& privateValue) {
    PrivateKey key = LoadPrivate(curve, privateValue);
    Pkcs8Ptr info(EVP_PKEY2PKCS8(key.Get()));
    if (!info) ThrowCrypto(CKR_FUNCTION_FAILED, "cannot encode the EC private key");
    return EncodeDer<const PKCS8_PRIV_KEY_INFO, i2d_PKCS8_PRIV_KEY_INFO>(info.get());
}

EcKeyComponents EcKeys::FromPkcs8(const Bytes& der) {
    if (der.size() > kMaxInputLength) ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "wrapped key too long");
    const unsigned char* p = der.data();
    Pkcs8Ptr info(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size())));
    if (!info || p != der.data() + der.size()) ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "not a PKCS#8 key");
    EvpPkeyPtr key(EVP_PKCS82PKEY(info.get()));
    if (!key) ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "not a usable PKCS#8 key");
    if (EVP_PKEY_is_a(key.get(), "ED25519")) return Export(EcParams::ByGroupName("ED25519"), key.get());
    char group[64] = {};
    size_t length = 0;
    if (!EVP_PKEY_is_a(key.get(), "EC") ||
        EVP_PKEY_get_utf8_string_param(key.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &length) != 1)
        ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "not an EC key of a named curve");
    try {
        return Export(EcParams::ByGroupName(group), key.get());
    } catch (const CryptoError&) {
        ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "EC key of an unknown curve");
    }
}

}  // namespace crypto
