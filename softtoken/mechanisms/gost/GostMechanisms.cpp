// The GOST family: GOST R 34.10-2001 and 34.10-2012 key pairs and signatures, GOST R 34.11-94
// and 34.11-2012 digests, GOST 28147-89 keys, MAC and encryption.
#include "mechanisms/MechanismTable.h"
#include "mechanisms/digest/DigestOperation.h"
#include "mechanisms/gost/Gost28147Encryption.h"
#include "mechanisms/gost/Gost28147Mac.h"
#include "mechanisms/gost/GostConstants.h"
#include "mechanisms/gost/GostR3410Signature.h"
#include "objects/KeyAccess.h"
#include "objects/KeyFactory.h"
#include "store/StoreCipher.h"
#include "crypto/Gost28147.h"
#include "crypto/GostR3410.h"

namespace softtoken {
namespace {

using crypto::GostKind;

std::unique_ptr<SignOperation> Signature(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    softtoken::Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    return std::make_unique<GostR3410Signature>(mechanism.mechanism, key, use == KeyUse::Verify);
}

std::unique_ptr<SignOperation> Mac(const CK_MECHANISM& mechanism, Object& key, KeyUse) {
    return std::make_unique<Gost28147Mac>(mechanism, key);
}

std::unique_ptr<CipherOperation> Encryption(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    return std::make_unique<Gost28147Encryption>(mechanism, key, use);
}

// CKM_GOSTR3411 may name its hash parameters; the engine has only the CryptoPro ones.
std::unique_ptr<SignOperation> Digest94(const CK_MECHANISM& mechanism) {
    if (mechanism.ulParameterLen != 0) {
        softtoken::Require(mechanism.pParameter != nullptr, CKR_MECHANISM_PARAM_INVALID);
        const auto* der = static_cast<const unsigned char*>(mechanism.pParameter);
        const Bytes params(der, der + mechanism.ulParameterLen);
        softtoken::Require(params == crypto::GostR3410::DefaultHashParamsOid(), CKR_MECHANISM_PARAM_INVALID);
    }
    return std::make_unique<DigestOperation>("md_gost94");
}

std::unique_ptr<SignOperation> Digest2012_256(const CK_MECHANISM& mechanism) {
    softtoken::Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    return std::make_unique<DigestOperation>("md_gost12_256");
}

std::unique_ptr<SignOperation> Digest2012_512(const CK_MECHANISM& mechanism) {
    softtoken::Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    return std::make_unique<DigestOperation>("md_gost12_512");
}

// The value of an attribute both templates agree on (empty when neither names one).
Bytes Agreed(const Object& publicKey, const Object& privateKey, CK_ATTRIBUTE_TYPE type) {
    const Bytes& fromPublic = publicKey.Get(type);
    const Bytes& fromPrivate = privateKey.Get(type);
    if (!fromPublic.empty() && !fromPrivate.empty())
        softtoken::Require(fromPublic == fromPrivate, CKR_TEMPLATE_INCONSISTENT);
    return fromPublic.empty() ? fromPrivate : fromPublic;
}

// The parameter sets come from the templates as given, before their defaults fill them in.
std::pair<Object, Object> GenerateKind(const CK_MECHANISM& mechanism, Object::Map publicTemplate,
                                       Object::Map privateTemplate, CK_KEY_TYPE keyType) {
    const bool is512 = keyType == CKK_GOSTR3410_512;
    const Bytes paramSet = Agreed(Object(publicTemplate), Object(privateTemplate), CKA_GOSTR3410_PARAMS);
    const Bytes hashParams = Agreed(Object(publicTemplate), Object(privateTemplate), CKA_GOSTR3411_PARAMS);
    Object publicKey = KeyFactory::Typed(std::move(publicTemplate), CKO_PUBLIC_KEY, keyType);
    Object privateKey = KeyFactory::Typed(std::move(privateTemplate), CKO_PRIVATE_KEY, keyType);
    const GostKind kind = crypto::GostR3410::KindOf(is512, paramSet, hashParams);
    // A 512-bit key hashes with the 512-bit hash; the others never do.
    const bool names512Hash = hashParams == crypto::GostR3410::HashParamsOid(GostKind::R2012_512);
    softtoken::Require(names512Hash == is512 || hashParams.empty(), CKR_TEMPLATE_INCONSISTENT);
    if (!paramSet.empty())
        softtoken::Require(crypto::GostR3410::IsKnownParamSet(kind, paramSet), CKR_ATTRIBUTE_VALUE_INVALID);
    crypto::GostKeyComponents gost = crypto::GostR3410::Generate(kind, paramSet);
    KeyFactory::FillGost(publicKey, privateKey, gost);
    StoreCipher::Wipe(gost.privateValue);
    KeyFactory::MarkGenerated(publicKey, mechanism.mechanism);
    KeyFactory::MarkGenerated(privateKey, mechanism.mechanism);
    return {std::move(publicKey), std::move(privateKey)};
}

// 2012 keys with 256 bits when the templates name the 2012 hash or a 2012 parameter set.
std::pair<Object, Object> GeneratePair(const CK_MECHANISM& mechanism, Object::Map publicTemplate,
                                       Object::Map privateTemplate) {
    softtoken::Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    return GenerateKind(mechanism, std::move(publicTemplate), std::move(privateTemplate), CKK_GOSTR3410);
}

std::pair<Object, Object> GeneratePair512(const CK_MECHANISM& mechanism, Object::Map publicTemplate,
                                          Object::Map privateTemplate) {
    softtoken::Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    return GenerateKind(mechanism, std::move(publicTemplate), std::move(privateTemplate), CKK_GOSTR3410_512);
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
constexpr CK_FLAGS kEncryptDecrypt = CKF_ENCRYPT | CKF_DECRYPT;

// GOST R 34.10 keys are 256 or 512 bits; GOST 28147-89 keys 32 bytes; digests take no key.
constexpr MechanismRow kRows[] = {
    {CKM_GOSTR3410_KEY_PAIR_GEN, {256, 256, CKF_GENERATE_KEY_PAIR}, KeyKind::None, CKK_GOSTR3410,
     nullptr, nullptr, nullptr, nullptr, GeneratePair, nullptr},
    {CKM_GOSTR3410, {256, 256, kSignVerify}, KeyKind::Pair, CKK_GOSTR3410, Signature, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {CKM_GOSTR3410_WITH_GOSTR3411, {256, 256, kSignVerify}, KeyKind::Pair, CKK_GOSTR3410, Signature, nullptr,
     nullptr, nullptr, nullptr, nullptr},
    {CKM_GOSTR3410_WITH_GOSTR3411_12_256, {256, 256, kSignVerify}, KeyKind::Pair, CKK_GOSTR3410, Signature,
     nullptr, nullptr, nullptr, nullptr, nullptr},
    {CKM_GOSTR3410_512_KEY_PAIR_GEN, {512, 512, CKF_GENERATE_KEY_PAIR}, KeyKind::None, CKK_GOSTR3410_512,
     nullptr, nullptr, nullptr, nullptr, GeneratePair512, nullptr},
    {CKM_GOSTR3410_512, {512, 512, kSignVerify}, KeyKind::Pair, CKK_GOSTR3410_512, Signature, nullptr, nullptr,
     nullptr, nullptr, nullptr},
    {CKM_GOSTR3410_WITH_GOSTR3411_12_512, {512, 512, kSignVerify}, KeyKind::Pair, CKK_GOSTR3410_512, Signature,
     nullptr, nullptr, nullptr, nullptr, nullptr},
    {CKM_GOSTR3411, {0, 0, CKF_DIGEST}, KeyKind::None, 0, nullptr, nullptr, Digest94, nullptr, nullptr, nullptr},
    {CKM_GOSTR3411_12_256, {0, 0, CKF_DIGEST}, KeyKind::None, 0, nullptr, nullptr, Digest2012_256, nullptr,
     nullptr, nullptr},
    {CKM_GOSTR3411_12_512, {0, 0, CKF_DIGEST}, KeyKind::None, 0, nullptr, nullptr, Digest2012_512, nullptr,
     nullptr, nullptr},
    {CKM_GOST28147_KEY_GEN, {32, 32, CKF_GENERATE}, KeyKind::None, CKK_GOST28147, nullptr, nullptr, nullptr,
     GenerateSecret, nullptr, nullptr},
    {CKM_GOST28147_MAC, {32, 32, kSignVerify}, KeyKind::Secret, CKK_GOST28147, Mac, nullptr, nullptr, nullptr,
     nullptr, nullptr},
    {CKM_GOST28147_ECB, {32, 32, kEncryptDecrypt | CKF_WRAP | CKF_UNWRAP}, KeyKind::Secret, CKK_GOST28147,
     nullptr, Encryption, nullptr, nullptr, nullptr, nullptr},
    {CKM_GOST28147, {32, 32, kEncryptDecrypt}, KeyKind::Secret, CKK_GOST28147, nullptr, Encryption, nullptr,
     nullptr, nullptr, nullptr},
    {CKM_NIMB_GOST28147_CNT, {32, 32, kEncryptDecrypt}, KeyKind::Secret, CKK_GOST28147, nullptr, Encryption,
     nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

MechanismRows GostMechanisms() { return RowsOf(kRows); }

}  // namespace softtoken
