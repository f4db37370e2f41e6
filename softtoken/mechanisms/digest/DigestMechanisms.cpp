// The digest family: message digests, in one piece or in parts (C_DigestKey included).
#include "mechanisms/MechanismTable.h"
#include "mechanisms/digest/DigestOperation.h"

namespace softtoken {
namespace {

struct DigestName {
    CK_MECHANISM_TYPE mechanism;
    const char* name;  // as MessageDigest::Find knows it
};

constexpr DigestName kNames[] = {
    {CKM_SHA_1, "SHA1"}, {CKM_SHA224, "SHA224"}, {CKM_SHA256, "SHA256"},
    {CKM_SHA384, "SHA384"}, {CKM_SHA512, "SHA512"},
};

std::unique_ptr<SignOperation> Digest(const CK_MECHANISM& mechanism) {
    softtoken::Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    for (const DigestName& entry : kNames)
        if (entry.mechanism == mechanism.mechanism) return std::make_unique<DigestOperation>(entry.name);
    throw Pkcs11Error(CKR_MECHANISM_INVALID);
}

constexpr MechanismRow Row(CK_MECHANISM_TYPE type) {
    return {type, {0, 0, CKF_DIGEST}, KeyKind::None, 0, nullptr, nullptr, Digest, nullptr, nullptr, nullptr};
}

constexpr MechanismRow kRows[] = {Row(CKM_SHA_1), Row(CKM_SHA224), Row(CKM_SHA256), Row(CKM_SHA384),
                                  Row(CKM_SHA512)};

}  // namespace

MechanismRows DigestMechanisms() { return RowsOf(kRows); }

}  // namespace softtoken
