// The HMAC family: HMAC over the SHA family under generic secret keys, full-length and
// general-length (CK_MAC_GENERAL_PARAMS), and the generation of generic secret keys.
#include "mechanisms/MechanismTable.h"
#include "mechanisms/hmac/HmacSignature.h"
#include "objects/KeyFactory.h"
#include "store/StoreCipher.h"

#include <cstring>

namespace softtoken {
namespace {

// HMAC keys and generated generic secrets, in bytes.
constexpr CK_ULONG kMinKeyBytes = 1;
constexpr CK_ULONG kMaxKeyBytes = 512;

struct HmacDigest {
    CK_MECHANISM_TYPE full;
    CK_MECHANISM_TYPE general;
    const char* digestName;  // as crypto::MessageDigest::Find knows it
    CK_ULONG length;
};

constexpr HmacDigest kDigests[] = {
    {CKM_SHA_1_HMAC, CKM_SHA_1_HMAC_GENERAL, "SHA1", 20},
    {CKM_SHA224_HMAC, CKM_SHA224_HMAC_GENERAL, "SHA224", 28},
    {CKM_SHA256_HMAC, CKM_SHA256_HMAC_GENERAL, "SHA256", 32},
    {CKM_SHA384_HMAC, CKM_SHA384_HMAC_GENERAL, "SHA384", 48},
    {CKM_SHA512_HMAC, CKM_SHA512_HMAC_GENERAL, "SHA512", 64},
};

const HmacDigest& DigestOf(CK_MECHANISM_TYPE type) {
    for (const HmacDigest& digest : kDigests)
        if (digest.full == type || digest.general == type) return digest;
    throw Pkcs11Error(CKR_MECHANISM_INVALID);
}

// The MAC length the mechanism asks for: the digest's, or the general-length parameter (a
// CK_ULONG, CK_MAC_GENERAL_PARAMS) of 1 up to the digest's.
CK_ULONG OutputLength(const CK_MECHANISM& mechanism, const HmacDigest& digest) {
    if (mechanism.mechanism == digest.full) {
        softtoken::Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
        return digest.length;
    }
    softtoken::Require(mechanism.ulParameterLen == sizeof(CK_ULONG), CKR_MECHANISM_PARAM_INVALID);
    CK_ULONG length = 0;
    std::memcpy(&length, mechanism.pParameter, sizeof length);  // the caller's, maybe unaligned
    softtoken::Require(length >= 1 && length <= digest.length, CKR_MECHANISM_PARAM_INVALID);
    return length;
}

std::unique_ptr<SignOperation> Mac(const CK_MECHANISM& mechanism, Object& key, KeyUse) {
    const HmacDigest& digest = DigestOf(mechanism.mechanism);
    const CK_ULONG length = OutputLength(mechanism, digest);
    const Bytes& value = key.Get(CKA_VALUE);
    softtoken::Require(value.size() >= kMinKeyBytes && value.size() <= kMaxKeyBytes, CKR_KEY_SIZE_RANGE);
    return std::make_unique<HmacSignature>(digest.digestName, value, length);
}

Object GenerateSecret(const CK_MECHANISM& mechanism, Object::Map keyTemplate) {
    softtoken::Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    Object key = KeyFactory::Typed(std::move(keyTemplate), CKO_SECRET_KEY, CKK_GENERIC_SECRET);
    softtoken::Require(key.Has(CKA_VALUE_LEN), CKR_TEMPLATE_INCOMPLETE);
    const CK_ULONG length = key.Ulong(CKA_VALUE_LEN);
    softtoken::Require(length >= kMinKeyBytes && length <= kMaxKeyBytes, CKR_ATTRIBUTE_VALUE_INVALID);
    key.Set(CKA_VALUE, StoreCipher::Random(length));
    KeyFactory::MarkGenerated(key, mechanism.mechanism);
    return key;
}

constexpr CK_FLAGS kSignVerify = CKF_SIGN | CKF_VERIFY;

constexpr MechanismRow Hmac(CK_MECHANISM_TYPE type) {
    return {type,    {kMinKeyBytes, kMaxKeyBytes, kSignVerify}, KeyKind::Secret, CKK_GENERIC_SECRET, Mac, nullptr,
            nullptr, nullptr,                                    nullptr,         nullptr};
}

// HMAC key sizes are in bytes; the generation's, as for every generic secret, in bits.
constexpr MechanismRow kRows[] = {
    Hmac(CKM_SHA_1_HMAC),  Hmac(CKM_SHA_1_HMAC_GENERAL),  Hmac(CKM_SHA224_HMAC), Hmac(CKM_SHA224_HMAC_GENERAL),
    Hmac(CKM_SHA256_HMAC), Hmac(CKM_SHA256_HMAC_GENERAL), Hmac(CKM_SHA384_HMAC), Hmac(CKM_SHA384_HMAC_GENERAL),
    Hmac(CKM_SHA512_HMAC), Hmac(CKM_SHA512_HMAC_GENERAL),
    {CKM_GENERIC_SECRET_KEY_GEN, {8 * kMinKeyBytes, 8 * kMaxKeyBytes, CKF_GENERATE}, KeyKind::None,
     CKK_GENERIC_SECRET, nullptr, nullptr, nullptr, GenerateSecret, nullptr, nullptr},
};

}  // namespace

MechanismRows HmacMechanisms() { return RowsOf(kRows); }

}  // namespace softtoken
