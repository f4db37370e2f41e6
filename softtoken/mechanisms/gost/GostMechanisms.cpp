// The GOST family: GOST R 34.10-2001 key pairs and signatures, GOST 28147-89 keys and MAC.
#include "mechanisms/MechanismTable.h"
#include "mechanisms/gost/Gost28147Mac.h"
#include "mechanisms/gost/GostR3410Signature.h"
#include "objects/KeyFactory.h"
#include "store/StoreCipher.h"
#include "crypto/Gost28147.h"
#include "crypto/GostR3410.h"

namespace softtoken {
namespace {

std::unique_ptr<SignOperation> Signature(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    softtoken::Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    return std::make_unique<GostR3410Signature>(mechanism.mechanism, key, use == KeyUse::Verify);
}

std::unique_ptr<SignOperation> Mac(const CK_MECHANISM& mechanism, Object& key, KeyUse) {
    return std::make_unique<Gost28147Mac>(mechanism, key);
}

// The parameter set both templates agree on (empty when neither names one).
Bytes ParamSet(const Object& publicKey, const Object& privateKey) {
    const Bytes& fromPublic = publicKey.Get(CKA_GOSTR3410_PARAMS);
    const Bytes& fromPrivate = privateKey.Get(CKA_GOSTR3410_PARAMS);
    if (!fromPublic.empty() && !fromPrivate.empty())
        softtoken::Require(fromPublic == fromPrivate, CKR_TEMPLATE_INCONSISTENT);
    return fromPublic.empty() ? fromPrivate : fromPublic;
}

std::pair<Object, Object> GeneratePair(const CK_MECHANISM& mechanism, Object::Map publicTemplate,
                                       Object::Map privateTemplate) {
    softtoken::Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    Object publicKey = KeyFactory::Typed(std::move(publicTemplate), CKO_PUBLIC_KEY, CKK_GOSTR3410);
    Object privateKey = KeyFactory::Typed(std::move(privateTemplate), CKO_PRIVATE_KEY, CKK_GOSTR3410);
    const Bytes paramSet = ParamSet(publicKey, privateKey);
    if (!paramSet.empty())
        softtoken::Require(crypto::GostR3410::IsKnownParamSet(paramSet), CKR_ATTRIBUTE_VALUE_INVALID);
    crypto::GostKeyComponents gost = crypto::GostR3410::Generate(paramSet);
    KeyFactory::FillGost(publicKey, privateKey, gost);
    StoreCipher::Wipe(gost.privateValue);
    KeyFactory::MarkGenerated(publicKey, mechanism.mechanism);
    KeyFactory::MarkGenerated(privateKey, mechanism.mechanism);
    return {std::move(publicKey), std::move(privateKey)};
}

Object GenerateSecret(const CK_MECHANISM& mechanism, Object::Map keyTemplate) {
    softtoken::Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    Object key = KeyFactory::Typed(std::move(keyTemplate), CKO_SECRET_KEY, CKK_GOST28147);
    if (key.Has(CKA_VALUE_LEN))
        softtoken::Require(key.Ulong(CKA_VALUE_LEN) == crypto::Gost28147::kKeyLength, CKR_ATTRIBUTE_VALUE_INVALID);
    softtoken::Require(crypto::Gost28147::IsKnownParamSet(key.Get(CKA_GOST28147_PARAMS)), CKR_ATTRIBUTE_VALUE_INVALID);
    key.Set(CKA_VALUE, StoreCipher::Random(crypto::Gost28147::kKeyLength));
    key.SetUlong(CKA_VALUE_LEN, crypto::Gost28147::kKeyLength);
    KeyFactory::MarkGenerated(key, mechanism.mechanism);
    return key;
}

constexpr CK_FLAGS kSignVerify = CKF_SIGN | CKF_VERIFY;

// GOST R 34.10-2001 keys are 256 bits; GOST 28147-89 keys 32 bytes.
constexpr MechanismRow kRows[] = {
    {CKM_GOSTR3410_KEY_PAIR_GEN, {256, 256, CKF_GENERATE_KEY_PAIR}, KeyKind::None, CKK_GOSTR3410,
     nullptr, nullptr, nullptr, nullptr, GeneratePair, nullptr},
    {CKM_GOSTR3410, {256, 256, kSignVerify}, KeyKind::Pair, CKK_GOSTR3410, Signature, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {CKM_GOSTR3410_WITH_GOSTR3411, {256, 256, kSignVerify}, KeyKind::Pair, CKK_GOSTR3410, Signature, nullptr,
     nullptr, nullptr, nullptr, nullptr},
    {CKM_GOST28147_KEY_GEN, {32, 32, CKF_GENERATE}, KeyKind::None, CKK_GOST28147, nullptr, nullptr, nullptr,
     GenerateSecret, nullptr, nullptr},
    {CKM_GOST28147_MAC, {32, 32, kSignVerify}, KeyKind::Secret, CKK_GOST28147, Mac, nullptr, nullptr, nullptr,
     nullptr, nullptr},
};

}  // namespace

MechanismRows GostMechanisms() { return RowsOf(kRows); }

}  // namespace softtoken
