#include "EcKeys.h"

#include "EcEngine.h"
#include "GostEngine.h"
#include "OpenSsl.h"

#include <algorithm>

namespace crypto {
namespace {

using EcGroupPtr = OpenSslPtr<EC_GROUP, EC_GROUP_free>;
using SecretBignumPtr = OpenSslPtr<BIGNUM, BN_clear_free>;
using EcKeyPtr = OpenSslPtr<EC_KEY, EC_KEY_free>;

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

EcKeyPtr NewEcKey(const EcCurve& curve) {
    EcKeyPtr ec(EC_KEY_new_method(EcEngine::Get()));
    EcGroupPtr group = Group(curve);
    if (!ec || EC_KEY_set_group(ec.get(), group.get()) != 1) ThrowCrypto(CKR_HOST_MEMORY, "cannot make an EC key");
    return ec;
}

// The EC key bound to the private engine, so that contexts on it use OpenSSL's own code.
EvpPkeyPtr Bound(EcKeyPtr ec) {
    EvpPkeyPtr key(EVP_PKEY_new());
    if (!key || EVP_PKEY_assign_EC_KEY(key.get(), ec.get()) != 1) ThrowCrypto(CKR_HOST_MEMORY, "cannot hold an EC key");
    ec.release();
    if (EVP_PKEY_set1_engine(key.get(), EcEngine::Get()) != 1) ThrowCrypto(CKR_FUNCTION_FAILED, "cannot bind an EC key");
    return key;
}

// The point must lie on the curve (OpenSSL checks it on decoding).
EvpPkeyPtr LoadEc(const EcCurve& curve, const Bytes& rawPoint, const BIGNUM* scalar) {
    EcKeyPtr ec = NewEcKey(curve);
    if (EC_KEY_oct2key(ec.get(), rawPoint.data(), rawPoint.size(), nullptr) != 1) Invalid("EC point not on the curve");
    if (scalar != nullptr && EC_KEY_set_private_key(ec.get(), scalar) != 1) Invalid("EC private value not accepted");
    return Bound(std::move(ec));
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
    const EC_KEY* ec = EVP_PKEY_get0_EC_KEY(key);
    const BIGNUM* scalar = ec != nullptr ? EC_KEY_get0_private_key(ec) : nullptr;
    if (scalar == nullptr) ThrowCrypto(CKR_FUNCTION_FAILED, "cannot read the EC private key");
    out.privateValue = PaddedBytes(scalar, curve.fieldBytes);
    out.point = EcKeys::PublicPoint(curve, out.privateValue);
    return out;
}

}  // namespace

EcKeyComponents EcKeys::Generate(const EcCurve& curve) {
    auto lock = GostEngine::Lock();
    if (curve.edwards) {
        EvpPkeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
        if (!key) ThrowCrypto(CKR_FUNCTION_FAILED, "Ed25519 key generation failed");
        return Export(curve, key.get());
    }
    EcKeyPtr ec = NewEcKey(curve);
    if (EC_KEY_generate_key(ec.get()) != 1) ThrowCrypto(CKR_FUNCTION_FAILED, "EC key generation failed");
    return Export(curve, Bound(std::move(ec)).get());
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
    auto lock = GostEngine::Lock();
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
    auto lock = GostEngine::Lock();
    return PublicKey(LoadEc(curve, rawPoint, nullptr).release());
}

Bytes EcKeys::ToPkcs8(const EcCurve& curve, const Bytes& privateValue) {
    auto lock = GostEngine::Lock();
    PrivateKey key = LoadPrivate(curve, privateValue);
    Pkcs8Ptr info(EVP_PKEY2PKCS8(key.Get()));
    if (!info) ThrowCrypto(CKR_FUNCTION_FAILED, "cannot encode the EC private key");
    return EncodeDer<const PKCS8_PRIV_KEY_INFO, i2d_PKCS8_PRIV_KEY_INFO>(info.get());
}

EcKeyComponents EcKeys::FromPkcs8(const Bytes& der) {
    if (der.size() > kMaxInputLength) ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "wrapped key too long");
    auto lock = GostEngine::Lock();
    const unsigned char* p = der.data();
    Pkcs8Ptr info(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size())));
    if (!info || p != der.data() + der.size()) ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "not a PKCS#8 key");
    EvpPkeyPtr key(EVP_PKCS82PKEY(info.get()));
    if (!key) ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "not a usable PKCS#8 key");
    if (EVP_PKEY_is_a(key.get(), "ED25519")) return Export(EcParams::ByGroupName("ED25519"), key.get());
    const EC_KEY* ec = EVP_PKEY_get0_EC_KEY(key.get());
    const EC_GROUP* group = ec != nullptr ? EC_KEY_get0_group(ec) : nullptr;
    const char* name = group != nullptr ? OBJ_nid2sn(EC_GROUP_get_curve_name(group)) : nullptr;
    if (name == nullptr) ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "not an EC key of a named curve");
    try {
        return Export(EcParams::ByGroupName(name), key.get());
    } catch (const CryptoError&) {
        ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "EC key of an unknown curve");
    }
}

}  // namespace crypto
