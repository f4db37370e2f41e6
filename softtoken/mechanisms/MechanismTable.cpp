#include "mechanisms/MechanismTable.h"

namespace softtoken {
namespace {

using Family = MechanismRows (*)();

// Every family, in the order C_GetMechanismList lists them.
constexpr Family kFamilies[] = {RsaMechanisms,  GostMechanisms, DigestMechanisms, HmacMechanisms,
                                 AesMechanisms,  DesMechanisms,  EcMechanisms};

const MechanismRow* Find(CK_MECHANISM_TYPE type) {
    for (Family family : kFamilies) {
        const MechanismRows rows = family();
        for (size_t i = 0; i < rows.count; ++i)
            if (rows.rows[i].type == type) return &rows.rows[i];
    }
    return nullptr;
}

CK_ATTRIBUTE_TYPE AttributeOf(KeyUse use) {
    switch (use) {
    case KeyUse::Sign: return CKA_SIGN;
    case KeyUse::Verify: return CKA_VERIFY;
    case KeyUse::Encrypt: return CKA_ENCRYPT;
    case KeyUse::Decrypt: return CKA_DECRYPT;
    case KeyUse::Wrap: return CKA_WRAP;
    case KeyUse::Unwrap: return CKA_UNWRAP;
    case KeyUse::Derive: return CKA_DERIVE;
    }
    return CKA_SIGN;
}

bool UsesPrivateHalf(KeyUse use) {
    return use == KeyUse::Sign || use == KeyUse::Decrypt || use == KeyUse::Unwrap || use == KeyUse::Derive;
}

}  // namespace

std::vector<CK_MECHANISM_TYPE> MechanismTable::Types() {
    std::vector<CK_MECHANISM_TYPE> all;
    for (Family family : kFamilies) {
        const MechanismRows rows = family();
        for (size_t i = 0; i < rows.count; ++i) all.push_back(rows.rows[i].type);
    }
    return all;
}

bool MechanismTable::Info(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO& info) {
    const MechanismRow* row = Find(type);
    if (row == nullptr) return false;
    info = row->info;
    return true;
}

const MechanismRow& MechanismTable::Require(const CK_MECHANISM& mechanism, CK_FLAGS needed) {
    const MechanismRow* row = Find(mechanism.mechanism);
    softtoken::Require(row != nullptr && (row->info.flags & needed) == needed, CKR_MECHANISM_INVALID);
    softtoken::Require(mechanism.pParameter != nullptr || mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    return *row;
}

void MechanismTable::CheckKey(const MechanismRow& row, const Object& key, KeyUse use) {
    CK_OBJECT_CLASS expected = CKO_SECRET_KEY;
    if (row.keyKind == KeyKind::Pair) expected = UsesPrivateHalf(use) ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY;
    softtoken::Require(key.Class() == expected && key.KeyType() == row.keyType, CKR_KEY_TYPE_INCONSISTENT);
    softtoken::Require(key.Bool(AttributeOf(use)), CKR_KEY_FUNCTION_NOT_PERMITTED);
}

}  // namespace softtoken
