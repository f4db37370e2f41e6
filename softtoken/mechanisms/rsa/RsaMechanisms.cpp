// The RSA family: key pair generation, PKCS#1 v1.5, PSS and raw signatures, PKCS#1 v1.5,
// OAEP and raw encryption (also for wrapping keys).
#include "mechanisms/MechanismTable.h"
#include "mechanisms/rsa/RsaCipher.h"
#include "mechanisms/rsa/RsaParameters.h"
#include "mechanisms/rsa/RsaSignature.h"
#include "objects/KeyFactory.h"
#include "store/StoreCipher.h"
#include "crypto/Rsa.h"

namespace softtoken {
namespace {

using Scheme = crypto::RsaPadding::Scheme;

// The signature mechanisms: their scheme and the hash they make themselves (0: the caller's input).
struct SignatureKind {
    CK_MECHANISM_TYPE mechanism;
    Scheme scheme;
    CK_MECHANISM_TYPE hash;
};

constexpr SignatureKind kSignatures[] = {
    {CKM_RSA_PKCS, Scheme::Pkcs1, 0},           {CKM_RSA_X_509, Scheme::Raw, 0},
    {CKM_RSA_PKCS_PSS, Scheme::Pss, 0},         {CKM_SHA1_RSA_PKCS, Scheme::Pkcs1, CKM_SHA_1},
    {CKM_SHA224_RSA_PKCS, Scheme::Pkcs1, CKM_SHA224}, {CKM_SHA256_RSA_PKCS, Scheme::Pkcs1, CKM_SHA256},
    {CKM_SHA384_RSA_PKCS, Scheme::Pkcs1, CKM_SHA384}, {CKM_SHA512_RSA_PKCS, Scheme::Pkcs1, CKM_SHA512},
    {CKM_SHA1_RSA_PKCS_PSS, Scheme::Pss, CKM_SHA_1},  {CKM_SHA224_RSA_PKCS_PSS, Scheme::Pss, CKM_SHA224},
    {CKM_SHA256_RSA_PKCS_PSS, Scheme::Pss, CKM_SHA256}, {CKM_SHA384_RSA_PKCS_PSS, Scheme::Pss, CKM_SHA384},
    {CKM_SHA512_RSA_PKCS_PSS, Scheme::Pss, CKM_SHA512},
};

const SignatureKind& KindOf(CK_MECHANISM_TYPE mechanism) {
    for (const SignatureKind& kind : kSignatures)
        if (kind.mechanism == mechanism) return kind;
    throw Pkcs11Error(CKR_MECHANISM_INVALID);
}

std::unique_ptr<SignOperation> Signature(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    const SignatureKind& kind = KindOf(mechanism.mechanism);
    const crypto::RsaPadding padding = kind.scheme == Scheme::Pss
                                           ? RsaParameters::Pss(mechanism, kind.hash)
                                           : RsaParameters::None(mechanism, kind.scheme, kind.hash);
    return std::make_unique<RsaSignature>(key, use == KeyUse::Verify, padding, kind.hash != 0);
}

std::unique_ptr<CipherOperation> Cipher(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    switch (mechanism.mechanism) {
    case CKM_RSA_PKCS: return std::make_unique<RsaCipher>(key, use, RsaParameters::None(mechanism, Scheme::Pkcs1));
    case CKM_RSA_X_509: return std::make_unique<RsaCipher>(key, use, RsaParameters::None(mechanism, Scheme::Raw));
    case CKM_RSA_PKCS_OAEP: return std::make_unique<RsaCipher>(key, use, RsaParameters::Oaep(mechanism));
    default: throw Pkcs11Error(CKR_MECHANISM_INVALID);
    }
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
constexpr CK_FLAGS kCipher = CKF_ENCRYPT | CKF_DECRYPT | CKF_WRAP | CKF_UNWRAP;

constexpr MechanismRow SignatureRow(CK_MECHANISM_TYPE type) {
    return {type, {1024, 4096, kSignVerify}, KeyKind::Pair, CKK_RSA, Signature, nullptr, nullptr, nullptr, nullptr,
            nullptr};
}

// Key sizes in bits.
constexpr MechanismRow kRows[] = {
    {CKM_RSA_PKCS_KEY_PAIR_GEN, {1024, 4096, CKF_GENERATE_KEY_PAIR}, KeyKind::None, CKK_RSA,
     nullptr, nullptr, nullptr, nullptr, GeneratePair, nullptr},
    {CKM_RSA_PKCS, {1024, 4096, kSignVerify | kCipher}, KeyKind::Pair, CKK_RSA, Signature, Cipher, nullptr, nullptr,
     nullptr, nullptr},
    {CKM_RSA_X_509, {1024, 4096, kSignVerify | kCipher}, KeyKind::Pair, CKK_RSA, Signature, Cipher, nullptr, nullptr,
     nullptr, nullptr},
    {CKM_RSA_PKCS_OAEP, {1024, 4096, kCipher}, KeyKind::Pair, CKK_RSA, nullptr, Cipher, nullptr, nullptr, nullptr,
     nullptr},
    SignatureRow(CKM_RSA_PKCS_PSS),
    SignatureRow(CKM_SHA1_RSA_PKCS),
    SignatureRow(CKM_SHA224_RSA_PKCS),
    SignatureRow(CKM_SHA256_RSA_PKCS),
    SignatureRow(CKM_SHA384_RSA_PKCS),
    SignatureRow(CKM_SHA512_RSA_PKCS),
    SignatureRow(CKM_SHA1_RSA_PKCS_PSS),
    SignatureRow(CKM_SHA224_RSA_PKCS_PSS),
    SignatureRow(CKM_SHA256_RSA_PKCS_PSS),
    SignatureRow(CKM_SHA384_RSA_PKCS_PSS),
    SignatureRow(CKM_SHA512_RSA_PKCS_PSS),
};

}  // namespace

MechanismRows RsaMechanisms() { return RowsOf(kRows); }

}  // namespace softtoken
