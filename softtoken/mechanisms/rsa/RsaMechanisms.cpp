// The RSA family: key pair generation and PKCS#1 v1.5 signatures.
#include "mechanisms/MechanismTable.h"
#include "mechanisms/rsa/RsaSignature.h"
#include "objects/KeyFactory.h"
#include "store/StoreCipher.h"
#include "crypto/Rsa.h"

namespace softtoken {
namespace {

std::unique_ptr<SignOperation> Signature(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    softtoken::Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    return std::make_unique<RsaSignature>(mechanism.mechanism, key, use == KeyUse::Verify);
}

std::pair<Object, Object> GeneratePair(const CK_MECHANISM& mechanism, Object::Map publicTemplate,
                                       Object::Map privateTemplate) {
    softtoken::Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    Object publicKey = KeyFactory::Typed(std::move(publicTemplate), CKO_PUBLIC_KEY, CKK_RSA);
    Object privateKey = KeyFactory::Typed(std::move(privateTemplate), CKO_PRIVATE_KEY, CKK_RSA);
    softtoken::Require(publicKey.Has(CKA_MODULUS_BITS), CKR_TEMPLATE_INCOMPLETE);
    const CK_ULONG bits = publicKey.Ulong(CKA_MODULUS_BITS);
    softtoken::Require(bits >= crypto::Rsa::kMinModulusBits && bits <= crypto::Rsa::kMaxModulusBits,
                       CKR_KEY_SIZE_RANGE);
    crypto::RsaKeyComponents rsa = crypto::Rsa::Generate(bits, publicKey.Get(CKA_PUBLIC_EXPONENT));
    KeyFactory::FillRsa(publicKey, privateKey, rsa);
    KeyFactory::WipeRsa(rsa);
    KeyFactory::MarkGenerated(publicKey, mechanism.mechanism);
    KeyFactory::MarkGenerated(privateKey, mechanism.mechanism);
    return {std::move(publicKey), std::move(privateKey)};
}

constexpr CK_FLAGS kSignVerify = CKF_SIGN | CKF_VERIFY;

// Key sizes in bits.
constexpr MechanismRow kRows[] = {
    {CKM_RSA_PKCS_KEY_PAIR_GEN, {1024, 4096, CKF_GENERATE_KEY_PAIR}, KeyKind::None, CKK_RSA,
     nullptr, nullptr, nullptr, nullptr, GeneratePair, nullptr},
    {CKM_RSA_PKCS, {1024, 4096, kSignVerify}, KeyKind::Pair, CKK_RSA, Signature, nullptr, nullptr, nullptr, nullptr,
     nullptr},
    {CKM_SHA256_RSA_PKCS, {1024, 4096, kSignVerify}, KeyKind::Pair, CKK_RSA, Signature, nullptr, nullptr, nullptr,
     nullptr, nullptr},
};

}  // namespace

MechanismRows RsaMechanisms() { return RowsOf(kRows); }

}  // namespace softtoken
