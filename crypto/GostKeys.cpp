#include "GostKeys.h"

#include "Der.h"
#include "GostR3410.h"

#include <openssl/objects.h>

#include <algorithm>
#include <array>

namespace crypto {
namespace {

const char* const kGostR3410_2001 = "1.2.643.2.2.19";
const char* const kDefaultParamSet = "1.2.643.2.2.35.1";

// RFC 4357 parameter sets for GOST R 34.10-2001: test, CryptoPro A, B, C, XchA, XchB.
const std::array<const char*, 6> kParamSets = {
    "1.2.643.2.2.35.0", "1.2.643.2.2.35.1", "1.2.643.2.2.35.2",
    "1.2.643.2.2.35.3", "1.2.643.2.2.36.0", "1.2.643.2.2.36.1"};

const EC_KEY* EcKey(const EVP_PKEY* key) {
    const auto* ec = static_cast<const EC_KEY*>(EVP_PKEY_get0(key));
    if (ec == nullptr || EC_KEY_get0_group(ec) == nullptr)
        ThrowCrypto(CKR_FUNCTION_FAILED, "the GOST key has no group");
    return ec;
}

Bytes LittleEndian(const BIGNUM* bn, size_t length) {
    Bytes out(length);
    if (BN_bn2lebinpad(bn, out.data(), static_cast<int>(length)) != static_cast<int>(length))
        ThrowCrypto(CKR_FUNCTION_FAILED, "a GOST key value does not fit its length");
    return out;
}

}  // namespace

std::string GostKeys::ParamSetText(const Bytes& paramsOidDer) {
    if (paramsOidDer.empty()) return kDefaultParamSet;
    std::string text = Der::OidText(paramsOidDer);
    if (std::find(kParamSets.begin(), kParamSets.end(), text) == kParamSets.end())
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "unknown GOST R 34.10-2001 parameter set");
    return text;
}

bool GostKeys::IsGost(const EVP_PKEY* key) {
    return EVP_PKEY_get_base_id(key) == NID_id_GostR3410_2001;
}

Bytes GostKeys::AlgorithmIdentifier(const Bytes& paramsOidDer) {
    Bytes params = Der::Tlv(Der::kSequence,
                            Der::Concat({Der::OidDer(ParamSetText(paramsOidDer)),
                                         GostR3410::DefaultHashParamsOid()}));
    return Der::Tlv(Der::kSequence, Der::Concat({Der::OidDer(kGostR3410_2001), params}));
}

EvpPkeyPtr GostKeys::LoadPrivate(const Bytes& privateValue, const Bytes& paramsOidDer) {
    if (privateValue.size() != kPrivateLength)
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "a GOST private value is 32 bytes");
    if (std::all_of(privateValue.begin(), privateValue.end(), [](unsigned char b) { return b == 0; }))
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "a GOST private value is not zero");
    // PrivateKeyInfo whose key is an OCTET STRING holding the little-endian value.
    Bytes info = Der::Tlv(Der::kSequence,
                          Der::Concat({Der::Tlv(Der::kInteger, {0}), AlgorithmIdentifier(paramsOidDer),
                                       Der::Tlv(Der::kOctetString,
                                                Der::Tlv(Der::kOctetString, privateValue))}));
    const unsigned char* p = info.data();
    EvpPkeyPtr key(d2i_PrivateKey(NID_id_GostR3410_2001, nullptr, &p, static_cast<long>(info.size())));
    if (!key) ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "the engine refused the GOST private key");
    // The engine takes any 256-bit value; a private key is below the group order.
    const BIGNUM* d = EC_KEY_get0_private_key(EcKey(key.get()));
    if (d == nullptr || BN_cmp(d, EC_GROUP_get0_order(EC_KEY_get0_group(EcKey(key.get())))) >= 0)
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "a GOST private value is below the group order");
    ERR_clear_error();
    return key;
}

EvpPkeyPtr GostKeys::LoadPublic(const Bytes& publicValue, const Bytes& paramsOidDer) {
    if (publicValue.size() != kPublicLength)
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "a GOST public value is 64 bytes");
    Bytes bits = Der::Concat({Bytes{0}, Der::Tlv(Der::kOctetString, publicValue)});
    Bytes spki = Der::Tlv(Der::kSequence,
                          Der::Concat({AlgorithmIdentifier(paramsOidDer), Der::Tlv(Der::kBitString, bits)}));
    const unsigned char* p = spki.data();
    EvpPkeyPtr key(d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size())));
    if (!key || !IsGost(key.get()))
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "the engine refused the GOST public key");
    ERR_clear_error();
    return key;
}

GostKeyComponents GostKeys::Export(const EVP_PKEY* key, bool withPrivate) {
    const EC_KEY* ec = EcKey(key);
    const EC_GROUP* group = EC_KEY_get0_group(ec);
    GostKeyComponents out;
    const ASN1_OBJECT* paramSet = OBJ_nid2obj(EC_GROUP_get_curve_name(group));
    if (paramSet == nullptr) ThrowCrypto(CKR_FUNCTION_FAILED, "the GOST key has no parameter set");
    out.paramsOid = EncodeDer<const ASN1_OBJECT, i2d_ASN1_OBJECT>(paramSet);
    out.hashParamsOid = GostR3410::DefaultHashParamsOid();

    const EC_POINT* point = EC_KEY_get0_public_key(ec);
    if (point == nullptr) ThrowCrypto(CKR_FUNCTION_FAILED, "the GOST key has no public point");
    BignumPtr x(BN_new()), y(BN_new());
    BnCtxPtr ctx(BN_CTX_new());
    if (!x || !y || !ctx || EC_POINT_get_affine_coordinates(group, point, x.get(), y.get(), ctx.get()) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot read the GOST public point");
    out.publicValue = LittleEndian(x.get(), 32);
    Bytes yBytes = LittleEndian(y.get(), 32);
    out.publicValue.insert(out.publicValue.end(), yBytes.begin(), yBytes.end());

    const BIGNUM* d = withPrivate ? EC_KEY_get0_private_key(ec) : nullptr;
    if (d != nullptr) out.privateValue = LittleEndian(d, kPrivateLength);
    return out;
}

BignumPtr GostKeys::Order(const EVP_PKEY* key) {
    BignumPtr order(BN_dup(EC_GROUP_get0_order(EC_KEY_get0_group(EcKey(key)))));
    if (!order) ThrowCrypto(CKR_HOST_MEMORY, "cannot copy the group order");
    return order;
}

}  // namespace crypto
