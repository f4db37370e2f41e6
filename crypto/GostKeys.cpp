#include "GostKeys.h"

#include "Der.h"
#include "GostR3410.h"

#include <openssl/objects.h>

#include <algorithm>
#include <iterator>

namespace crypto {
namespace {

// A key parameter set: its OID, the name the engine's key generation takes, and whether the
// key's algorithm parameters name the hash too (as the engine writes them).
struct ParamSet {
    const char* oid;
    const char* engineName;
    bool namesHash;
};

// RFC 4357 parameter sets for GOST R 34.10-2001: test, CryptoPro A, B, C, XchA, XchB.
constexpr ParamSet k2001Sets[] = {
    {"1.2.643.2.2.35.0", "1.2.643.2.2.35.0", true}, {"1.2.643.2.2.35.1", "1.2.643.2.2.35.1", true},
    {"1.2.643.2.2.35.2", "1.2.643.2.2.35.2", true}, {"1.2.643.2.2.35.3", "1.2.643.2.2.35.3", true},
    {"1.2.643.2.2.36.0", "1.2.643.2.2.36.0", true}, {"1.2.643.2.2.36.1", "1.2.643.2.2.36.1", true}};
// GOST R 34.10-2012, 256 bits: the 2001 sets, and the TC26 sets A to D (the engine knows the
// TC26 sets B to D only by its short names).
constexpr ParamSet k2012_256Sets[] = {
    {"1.2.643.2.2.35.0", "1.2.643.2.2.35.0", true}, {"1.2.643.2.2.35.1", "1.2.643.2.2.35.1", true},
    {"1.2.643.2.2.35.2", "1.2.643.2.2.35.2", true}, {"1.2.643.2.2.35.3", "1.2.643.2.2.35.3", true},
    {"1.2.643.2.2.36.0", "1.2.643.2.2.36.0", true}, {"1.2.643.2.2.36.1", "1.2.643.2.2.36.1", true},
    {"1.2.643.7.1.2.1.1.1", "TCA", false},          {"1.2.643.7.1.2.1.1.2", "TCB", false},
    {"1.2.643.7.1.2.1.1.3", "TCC", false},          {"1.2.643.7.1.2.1.1.4", "TCD", false}};
// GOST R 34.10-2012, 512 bits: the TC26 test set and sets A, B, C.
constexpr ParamSet k2012_512Sets[] = {{"1.2.643.7.1.2.1.2.0", "1.2.643.7.1.2.1.2.0", true},
                                      {"1.2.643.7.1.2.1.2.1", "1.2.643.7.1.2.1.2.1", true},
                                      {"1.2.643.7.1.2.1.2.2", "1.2.643.7.1.2.1.2.2", true},
                                      {"1.2.643.7.1.2.1.2.3", "1.2.643.7.1.2.1.2.3", false}};

struct KindInfo {
    int nid;
    const char* algorithmOid;
    const char* hashOid;
    const char* defaultSet;
    size_t privateLength;
    const ParamSet* sets;
    size_t setCount;
};

const KindInfo& Info(GostKind kind) {
    static const KindInfo k2001 = {NID_id_GostR3410_2001, "1.2.643.2.2.19", "1.2.643.2.2.30.1", "1.2.643.2.2.35.1",
                                   32, k2001Sets, std::size(k2001Sets)};
    static const KindInfo k256 = {NID_id_GostR3410_2012_256, "1.2.643.7.1.1.1.1", "1.2.643.7.1.1.2.2",
                                  "1.2.643.2.2.35.1", 32, k2012_256Sets, std::size(k2012_256Sets)};
    static const KindInfo k512 = {NID_id_GostR3410_2012_512, "1.2.643.7.1.1.1.2", "1.2.643.7.1.1.2.3",
                                  "1.2.643.7.1.2.1.2.1", 64, k2012_512Sets, std::size(k2012_512Sets)};
    if (kind == GostKind::R2012_256) return k256;
    if (kind == GostKind::R2012_512) return k512;
    return k2001;
}

const ParamSet& FindSet(GostKind kind, const Bytes& paramsOidDer) {
    const KindInfo& info = Info(kind);
    const std::string text = paramsOidDer.empty() ? info.defaultSet : Der::OidText(paramsOidDer);
    const ParamSet* end = info.sets + info.setCount;
    const ParamSet* found = std::find_if(info.sets, end, [&](const ParamSet& set) { return text == set.oid; });
    if (found == end) ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "unknown GOST R 34.10 parameter set");
    return *found;
}

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

size_t GostKeys::PrivateLength(GostKind kind) { return Info(kind).privateLength; }

std::string GostKeys::ParamSetText(GostKind kind, const Bytes& paramsOidDer) {
    return FindSet(kind, paramsOidDer).engineName;
}

std::string GostKeys::ParamSetText(const Bytes& paramsOidDer) { return ParamSetText(GostKind::R2001, paramsOidDer); }

const char* GostKeys::DefaultParamSet(GostKind kind) { return Info(kind).defaultSet; }

const char* GostKeys::HashOid(GostKind kind) { return Info(kind).hashOid; }

bool GostKeys::Is2012Only(const Bytes& paramsOidDer) {
    const std::string text = Der::OidText(paramsOidDer);
    return text.rfind("1.2.643.7.1.2.1.", 0) == 0;
}

bool GostKeys::IsGost(const EVP_PKEY* key) {
    return EVP_PKEY_get_base_id(key) == NID_id_GostR3410_2001;
}

GostKind GostKeys::KindOf(const EVP_PKEY* key) {
    for (GostKind kind : {GostKind::R2001, GostKind::R2012_256, GostKind::R2012_512})
        if (EVP_PKEY_get_base_id(key) == Info(kind).nid) return kind;
    ThrowCrypto(CKR_FUNCTION_FAILED, "not a GOST R 34.10 key");
}

Bytes GostKeys::AlgorithmIdentifier(GostKind kind, const Bytes& paramsOidDer) {
    const KindInfo& info = Info(kind);
    const ParamSet& set = FindSet(kind, paramsOidDer);
    const Bytes hash = set.namesHash ? Der::OidDer(info.hashOid) : Bytes{};
    Bytes params = Der::Tlv(Der::kSequence, Der::Concat({Der::OidDer(set.oid), hash}));
    return Der::Tlv(Der::kSequence, Der::Concat({Der::OidDer(info.algorithmOid), params}));
}

EvpPkeyPtr GostKeys::LoadPrivate(GostKind kind, const Bytes& privateValue, const Bytes& paramsOidDer) {
    if (privateValue.size() != PrivateLength(kind))
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "a GOST private value has the wrong length");
    if (std::all_of(privateValue.begin(), privateValue.end(), [](unsigned char b) { return b == 0; }))
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "a GOST private value is not zero");
    // PrivateKeyInfo whose key is an OCTET STRING holding the little-endian value.
    Bytes info = Der::Tlv(Der::kSequence,
                          Der::Concat({Der::Tlv(Der::kInteger, {0}), AlgorithmIdentifier(kind, paramsOidDer),
                                       Der::Tlv(Der::kOctetString,
                                                Der::Tlv(Der::kOctetString, privateValue))}));
    const unsigned char* p = info.data();
    EvpPkeyPtr key(d2i_PrivateKey(Info(kind).nid, nullptr, &p, static_cast<long>(info.size())));
    OPENSSL_cleanse(info.data(), info.size());
    if (!key) ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "the engine refused the GOST private key");
    // The engine takes any value of the length; a private key is below the group order.
    const BIGNUM* d = EC_KEY_get0_private_key(EcKey(key.get()));
    if (d == nullptr || BN_cmp(d, EC_GROUP_get0_order(EC_KEY_get0_group(EcKey(key.get())))) >= 0)
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "a GOST private value is below the group order");
    ERR_clear_error();
    return key;
}

EvpPkeyPtr GostKeys::LoadPublic(GostKind kind, const Bytes& publicValue, const Bytes& paramsOidDer) {
    if (publicValue.size() != 2 * PrivateLength(kind))
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "a GOST public value has the wrong length");
    Bytes bits = Der::Concat({Bytes{0}, Der::Tlv(Der::kOctetString, publicValue)});
    Bytes spki = Der::Tlv(Der::kSequence,
                          Der::Concat({AlgorithmIdentifier(kind, paramsOidDer), Der::Tlv(Der::kBitString, bits)}));
    const unsigned char* p = spki.data();
    EvpPkeyPtr key(d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size())));
    if (!key || EVP_PKEY_get_base_id(key.get()) != Info(kind).nid)
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "the engine refused the GOST public key");
    ERR_clear_error();
    return key;
}

EvpPkeyPtr GostKeys::LoadPrivate(const Bytes& privateValue, const Bytes& paramsOidDer) {
    return LoadPrivate(GostKind::R2001, privateValue, paramsOidDer);
}

EvpPkeyPtr GostKeys::LoadPublic(const Bytes& publicValue, const Bytes& paramsOidDer) {
    return LoadPublic(GostKind::R2001, publicValue, paramsOidDer);
}

GostKeyComponents GostKeys::Export(const EVP_PKEY* key, bool withPrivate) {
    const GostKind kind = KindOf(key);
    const size_t length = PrivateLength(kind);
    const EC_KEY* ec = EcKey(key);
    const EC_GROUP* group = EC_KEY_get0_group(ec);
    GostKeyComponents out;
    const ASN1_OBJECT* paramSet = OBJ_nid2obj(EC_GROUP_get_curve_name(group));
    if (paramSet == nullptr) ThrowCrypto(CKR_FUNCTION_FAILED, "the GOST key has no parameter set");
    out.paramsOid = EncodeDer<const ASN1_OBJECT, i2d_ASN1_OBJECT>(paramSet);
    out.hashParamsOid = Der::OidDer(HashOid(kind));

    const EC_POINT* point = EC_KEY_get0_public_key(ec);
    if (point == nullptr) ThrowCrypto(CKR_FUNCTION_FAILED, "the GOST key has no public point");
    BignumPtr x(BN_new()), y(BN_new());
    BnCtxPtr ctx(BN_CTX_new());
    if (!x || !y || !ctx || EC_POINT_get_affine_coordinates(group, point, x.get(), y.get(), ctx.get()) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot read the GOST public point");
    out.publicValue = LittleEndian(x.get(), length);
    Bytes yBytes = LittleEndian(y.get(), length);
    out.publicValue.insert(out.publicValue.end(), yBytes.begin(), yBytes.end());

    const BIGNUM* d = withPrivate ? EC_KEY_get0_private_key(ec) : nullptr;
    if (d != nullptr) out.privateValue = LittleEndian(d, length);
    return out;
}

BignumPtr GostKeys::Order(const EVP_PKEY* key) {
    BignumPtr order(BN_dup(EC_GROUP_get0_order(EC_KEY_get0_group(EcKey(key)))));
    if (!order) ThrowCrypto(CKR_HOST_MEMORY, "cannot copy the group order");
    return order;
}

}  // namespace crypto
