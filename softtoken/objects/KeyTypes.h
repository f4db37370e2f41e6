#pragma once
// The key types the token keeps, one row per class and key type: the attributes of that key
// type beyond those of every key of the class, a check of the values, and for private keys
// their PKCS#8 form for C_WrapKey and C_UnwrapKey. Each family keeps its own rows.
#include "objects/AttributeRule.h"
#include "objects/Object.h"

namespace softtoken {

struct KeyTypeRow {
    CK_OBJECT_CLASS objectClass;
    CK_KEY_TYPE keyType;
    const AttributeRule* rules;
    size_t ruleCount;
    // Checks a complete object's values and fills what follows from them (CKA_VALUE_LEN,
    // CKA_MODULUS_BITS, ...); CKR_ATTRIBUTE_VALUE_INVALID for values that form no key. May be null.
    void (*check)(Object& key);
    // Private keys: the key as a PKCS#8 PrivateKeyInfo, and its values from one (into a key
    // object that has its class and key type). Null when the key type cannot be wrapped.
    Bytes (*toPkcs8)(const Object& key);
    void (*fromPkcs8)(const Bytes& der, Object& key);
};

struct KeyTypeRows {
    const KeyTypeRow* rows;
    size_t count;
};

class KeyTypes {
public:
    // Null for a class and key type the token does not keep.
    static const KeyTypeRow* Find(CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType);
};

template <size_t N>
constexpr KeyTypeRows KeyRowsOf(const KeyTypeRow (&rows)[N]) {
    return {rows, N};
}

template <size_t N>
constexpr size_t RuleCount(const AttributeRule (&)[N]) {
    return N;
}

// The families' key types, each defined in its own folder.
KeyTypeRows SecretKeyTypes();  // generic secret keys (objects/)
KeyTypeRows RsaKeyTypes();
KeyTypeRows GostKeyTypes();
KeyTypeRows AesKeyTypes();
KeyTypeRows DesKeyTypes();
KeyTypeRows EcKeyTypes();  // EC and Edwards-curve keys

}  // namespace softtoken
