#include "objects/KeyTypes.h"

namespace softtoken {
namespace {

using Family = KeyTypeRows (*)();

constexpr Family kFamilies[] = {SecretKeyTypes, RsaKeyTypes, GostKeyTypes, AesKeyTypes, DesKeyTypes, EcKeyTypes};

constexpr AttributeRule kGenericSecret[] = {{CKA_VALUE_LEN, NotOnCreate, AttributeDefault::None}};

void CheckGenericSecret(Object& key) {
    if (key.Has(CKA_VALUE)) key.SetUlong(CKA_VALUE_LEN, static_cast<CK_ULONG>(key.Get(CKA_VALUE).size()));
}

constexpr KeyTypeRow kRows[] = {
    {CKO_SECRET_KEY, CKK_GENERIC_SECRET, kGenericSecret, RuleCount(kGenericSecret), CheckGenericSecret, nullptr,
     nullptr},
};

}  // namespace

KeyTypeRows SecretKeyTypes() { return KeyRowsOf(kRows); }

const KeyTypeRow* KeyTypes::Find(CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType) {
    for (Family family : kFamilies) {
        const KeyTypeRows rows = family();
        for (size_t i = 0; i < rows.count; ++i)
            if (rows.rows[i].objectClass == objectClass && rows.rows[i].keyType == keyType) return &rows.rows[i];
    }
    return nullptr;
}

}  // namespace softtoken
