// The EC family: key pairs on P-256, P-384 and P-521 with ECDSA and ECDH, and Ed25519 key
// pairs with EdDSA.
#include "mechanisms/MechanismTable.h"
#include "mechanisms/ec/EcKeyObjects.h"
#include "mechanisms/ec/EcMechanismParams.h"
#include "mechanisms/ec/EcdhDerivation.h"
#include "mechanisms/ec/EcdsaSignature.h"
#include "mechanisms/ec/EddsaSignature.h"
#include "objects/KeyFactory.h"
#include "store/StoreCipher.h"
#include "crypto/EcKeys.h"

namespace softtoken {
namespace {

std::unique_ptr<SignOperation> Ecdsa(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    softtoken::Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    return std::make_unique<EcdsaSignature>(mechanism.mechanism, key, use == KeyUse::Verify);
}

// No parameter, or EdDSA parameters for pure Ed25519: no prehash, no context.
std::unique_ptr<SignOperation> Eddsa(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    if (mechanism.ulParameterLen != 0) {
        softtoken::Require(mechanism.pParameter != nullptr && mechanism.ulParameterLen == sizeof(EddsaParams),
                           CKR_MECHANISM_PARAM_INVALID);
        const auto& params = *static_cast<const EddsaParams*>(mechanism.pParameter);
        softtoken::Require(params.phFlag == CK_FALSE && params.ulContextDataLen == 0, CKR_MECHANISM_PARAM_INVALID);
    }
    return std::make_unique<EddsaSignature>(key, use == KeyUse::Verify);
}

Bytes Ecdh(const CK_MECHANISM& mechanism, Object& baseKey) { return EcdhDerivation::Derive(mechanism, baseKey); }

// The parameters both templates agree on; fallback when neither names a curve.
Bytes CurveParams(const Object& publicKey, const Object& privateKey, const Bytes& fallback) {
    const Bytes& fromPublic = publicKey.Get(CKA_EC_PARAMS);
    const Bytes& fromPrivate = privateKey.Get(CKA_EC_PARAMS);
    if (!fromPublic.empty() && !fromPrivate.empty())
        softtoken::Require(fromPublic == fromPrivate, CKR_TEMPLATE_INCONSISTENT);
    if (!fromPublic.empty()) return fromPublic;
    if (!fromPrivate.empty()) return fromPrivate;
    softtoken::Require(!fallback.empty(), CKR_TEMPLATE_INCOMPLETE);
    return fallback;
}

std::pair<Object, Object> GenerateOn(const CK_MECHANISM& mechanism, CK_KEY_TYPE keyType, Object::Map publicTemplate,
                                     Object::Map privateTemplate, const Bytes& fallback) {
    softtoken::Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    Object publicKey = KeyFactory::Typed(std::move(publicTemplate), CKO_PUBLIC_KEY, keyType);
    Object privateKey = KeyFactory::Typed(std::move(privateTemplate), CKO_PRIVATE_KEY, keyType);
    const Bytes params = CurveParams(publicKey, privateKey, fallback);
    const crypto::EcCurve& curve = crypto::EcParams::Parse(params);
    softtoken::Require(curve.edwards == (keyType == CKK_EC_EDWARDS), CKR_CURVE_NOT_SUPPORTED);
    crypto::EcKeyComponents ec = crypto::EcKeys::Generate(curve);
    EcKeyObjects::Fill(publicKey, privateKey, params, ec);
    StoreCipher::Wipe(ec.privateValue);
    KeyFactory::MarkGenerated(publicKey, mechanism.mechanism);
    KeyFactory::MarkGenerated(privateKey, mechanism.mechanism);
    return {std::move(publicKey), std::move(privateKey)};
}

std::pair<Object, Object> GenerateEc(const CK_MECHANISM& mechanism, Object::Map publicTemplate,
                                     Object::Map privateTemplate) {
    return GenerateOn(mechanism, CKK_EC, std::move(publicTemplate), std::move(privateTemplate), {});
}

// Edwards-curve pairs are Ed25519 when the templates name no curve.
std::pair<Object, Object> GenerateEdwards(const CK_MECHANISM& mechanism, Object::Map publicTemplate,
                                          Object::Map privateTemplate) {
    const Bytes ed25519 = crypto::EcParams::OidDer(crypto::EcParams::ByGroupName("ED25519"));
    return GenerateOn(mechanism, CKK_EC_EDWARDS, std::move(publicTemplate), std::move(privateTemplate), ed25519);
}

constexpr CK_FLAGS kEcFlags = CKF_EC_F_P | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS;
constexpr CK_FLAGS kEcdsa = CKF_SIGN | CKF_VERIFY | kEcFlags;

#define ECDSA_ROW(type) \
    {type, {256, 521, kEcdsa}, KeyKind::Pair, CKK_EC, Ecdsa, nullptr, nullptr, nullptr, nullptr, nullptr}

// Sizes in bits of the curve's order: P-256 to P-521; Ed25519 counts 255.
constexpr MechanismRow kRows[] = {
    {CKM_EC_KEY_PAIR_GEN, {256, 521, CKF_GENERATE_KEY_PAIR | kEcFlags}, KeyKind::None, CKK_EC, nullptr, nullptr,
     nullptr, nullptr, GenerateEc, nullptr},
    ECDSA_ROW(CKM_ECDSA),
    ECDSA_ROW(CKM_ECDSA_SHA1),
    ECDSA_ROW(CKM_ECDSA_SHA224),
    ECDSA_ROW(CKM_ECDSA_SHA256),
    ECDSA_ROW(CKM_ECDSA_SHA384),
    ECDSA_ROW(CKM_ECDSA_SHA512),
    {CKM_ECDH1_DERIVE, {256, 521, CKF_DERIVE | kEcFlags}, KeyKind::Pair, CKK_EC, nullptr, nullptr, nullptr, nullptr,
     nullptr, Ecdh},
    {CKM_EC_EDWARDS_KEY_PAIR_GEN, {255, 255, CKF_GENERATE_KEY_PAIR}, KeyKind::None, CKK_EC_EDWARDS, nullptr, nullptr,
     nullptr, nullptr, GenerateEdwards, nullptr},
    {CKM_EDDSA, {255, 255, CKF_SIGN | CKF_VERIFY}, KeyKind::Pair, CKK_EC_EDWARDS, Eddsa, nullptr, nullptr, nullptr,
     nullptr, nullptr},
};

#undef ECDSA_ROW

}  // namespace

MechanismRows EcMechanisms() { return RowsOf(kRows); }

}  // namespace softtoken
