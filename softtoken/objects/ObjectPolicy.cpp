#include "objects/ObjectPolicy.h"

#include "objects/KeyTypes.h"

#include <algorithm>
#include <vector>

namespace softtoken {
namespace {

using Kind = ObjectPolicy::Kind;
using Origin = ObjectPolicy::Origin;

using Rule = AttributeRule;
using Default = AttributeDefault;
using Rules = std::vector<Rule>;

const Rules kCommon = {{CKA_CLASS, RequiredOnCreate, Default::None},   {CKA_TOKEN, 0, Default::False},
                       {CKA_PRIVATE, 0, Default::False},               {CKA_MODIFIABLE, 0, Default::True},
                       {CKA_LABEL, 0, Default::Empty},                 {CKA_COPYABLE, 0, Default::True},
                       {CKA_DESTROYABLE, 0, Default::True},            {CKA_ID, 0, Default::Empty}};
const Rules kData = {{CKA_APPLICATION, 0, Default::Empty}, {CKA_OBJECT_ID, 0, Default::Empty},
                     {CKA_VALUE, 0, Default::Empty}};
const Rules kCertificate = {{CKA_CERTIFICATE_TYPE, RequiredOnCreate, Default::None},
                            {CKA_TRUSTED, 0, Default::False},
                            {CKA_CERTIFICATE_CATEGORY, 0, Default::Zero},
                            {CKA_START_DATE, 0, Default::Empty},
                            {CKA_END_DATE, 0, Default::Empty},
                            {CKA_SUBJECT, RequiredOnCreate, Default::None},
                            {CKA_ISSUER, 0, Default::Empty},
                            {CKA_SERIAL_NUMBER, 0, Default::Empty},
                            {CKA_VALUE, RequiredOnCreate, Default::None},
                            {CKA_URL, 0, Default::Empty},
                            {CKA_HASH_OF_SUBJECT_PUBLIC_KEY, 0, Default::Empty},
                            {CKA_HASH_OF_ISSUER_PUBLIC_KEY, 0, Default::Empty},
                            {CKA_JAVA_MIDP_SECURITY_DOMAIN, 0, Default::Zero}};
const Rules kKey = {{CKA_KEY_TYPE, RequiredOnCreate, Default::None},
                    {CKA_START_DATE, 0, Default::Empty},
                    {CKA_END_DATE, 0, Default::Empty},
                    {CKA_DERIVE, 0, Default::False},
                    {CKA_LOCAL, NotOnCreate | NotOnGenerate, Default::False},
                    {CKA_KEY_GEN_MECHANISM, NotOnCreate | NotOnGenerate, Default::Unavailable}};
const Rules kPublic = {{CKA_SUBJECT, 0, Default::Empty},        {CKA_ENCRYPT, 0, Default::True},
                       {CKA_VERIFY, 0, Default::True},          {CKA_VERIFY_RECOVER, 0, Default::False},
                       {CKA_WRAP, 0, Default::False},           {CKA_TRUSTED, 0, Default::False},
                       {CKA_PUBLIC_KEY_INFO, 0, Default::Empty}};
const Rules kPrivate = {{CKA_SUBJECT, 0, Default::Empty},
                        {CKA_SENSITIVE, 0, Default::True},
                        {CKA_DECRYPT, 0, Default::True},
                        {CKA_SIGN, 0, Default::True},
                        {CKA_SIGN_RECOVER, 0, Default::False},
                        {CKA_UNWRAP, 0, Default::False},
                        {CKA_EXTRACTABLE, 0, Default::False},
                        {CKA_ALWAYS_SENSITIVE, NotOnCreate | NotOnGenerate, Default::False},
                        {CKA_NEVER_EXTRACTABLE, NotOnCreate | NotOnGenerate, Default::False},
                        {CKA_ALWAYS_AUTHENTICATE, 0, Default::False},
                        {CKA_WRAP_WITH_TRUSTED, 0, Default::False},
                        {CKA_PUBLIC_KEY_INFO, 0, Default::Empty}};
const Rules kSecret = {{CKA_SENSITIVE, 0, Default::True},
                       {CKA_ENCRYPT, 0, Default::False},
                       {CKA_DECRYPT, 0, Default::False},
                       // A MAC key signs and verifies unless told otherwise.
                       {CKA_SIGN, 0, Default::True},
                       {CKA_VERIFY, 0, Default::True},
                       {CKA_WRAP, 0, Default::False},
                       {CKA_UNWRAP, 0, Default::False},
                       {CKA_EXTRACTABLE, 0, Default::False},
                       {CKA_ALWAYS_SENSITIVE, NotOnCreate | NotOnGenerate, Default::False},
                       {CKA_NEVER_EXTRACTABLE, NotOnCreate | NotOnGenerate, Default::False},
                       {CKA_WRAP_WITH_TRUSTED, 0, Default::False},
                       {CKA_TRUSTED, 0, Default::False},
                       {CKA_VALUE, RequiredOnCreate | NotOnGenerate | Sensitive, Default::None},
                       {CKA_VALUE_LEN, NotOnCreate, Default::None}};

// The rules of one class and key type, or nothing for what the token does not keep.
std::optional<Rules> RulesFor(CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType) {
    Rules rules = kCommon;
    auto add = [&rules](const Rules& more) {
        for (const Rule& rule : more) {
            auto same = std::find_if(rules.begin(), rules.end(), [&](const Rule& r) { return r.type == rule.type; });
            if (same == rules.end())
                rules.push_back(rule);
            else
                *same = rule;
        }
    };
    const bool isKey = objectClass == CKO_PUBLIC_KEY || objectClass == CKO_PRIVATE_KEY || objectClass == CKO_SECRET_KEY;
    switch (objectClass) {
    case CKO_DATA:
        add(kData);
        return rules;
    case CKO_CERTIFICATE:
        add(kCertificate);
        return rules;
    case CKO_PUBLIC_KEY:
        add(kKey);
        add(kPublic);
        break;
    case CKO_PRIVATE_KEY:
        add(kKey);
        add(kPrivate);
        break;
    case CKO_SECRET_KEY:
        add(kKey);
        add(kSecret);
        break;
    default:
        return std::nullopt;
    }
    const KeyTypeRow* row = isKey ? KeyTypes::Find(objectClass, keyType) : nullptr;
    if (row == nullptr) return std::nullopt;
    add(Rules(row->rules, row->rules + row->ruleCount));
    return rules;
}

const Rule* FindRule(const Rules& rules, CK_ATTRIBUTE_TYPE type) {
    auto it = std::find_if(rules.begin(), rules.end(), [type](const Rule& r) { return r.type == type; });
    return it == rules.end() ? nullptr : &*it;
}

Rules RulesOf(const Object& object, CK_RV missing) {
    Require(object.Has(CKA_CLASS), missing);
    const CK_OBJECT_CLASS objectClass = object.Class();
    const bool isKey = objectClass == CKO_PUBLIC_KEY || objectClass == CKO_PRIVATE_KEY || objectClass == CKO_SECRET_KEY;
    if (isKey) Require(object.Has(CKA_KEY_TYPE), missing);
    std::optional<Rules> rules = RulesFor(objectClass, isKey ? object.KeyType() : CK_UNAVAILABLE_INFORMATION);
    Require(rules.has_value(), CKR_ATTRIBUTE_VALUE_INVALID);
    return *rules;
}

void ApplyDefault(Object& object, const Rule& rule) {
    switch (rule.fallback) {
    case Default::None:
        return;
    case Default::False:
        object.SetBool(rule.type, false);
        return;
    case Default::True:
        object.SetBool(rule.type, true);
        return;
    case Default::Empty:
        object.Set(rule.type, {});
        return;
    case Default::Zero:
        object.SetUlong(rule.type, 0);
        return;
    case Default::Unavailable:
        object.SetUlong(rule.type, CK_UNAVAILABLE_INFORMATION);
        return;
    }
}

bool IsKeyClass(CK_OBJECT_CLASS objectClass) {
    return objectClass == CKO_PRIVATE_KEY || objectClass == CKO_SECRET_KEY;
}

}  // namespace

std::optional<Kind> ObjectPolicy::KindOf(CK_ATTRIBUTE_TYPE type) {
    switch (type) {
    case CKA_CLASS: case CKA_CERTIFICATE_TYPE: case CKA_CERTIFICATE_CATEGORY: case CKA_JAVA_MIDP_SECURITY_DOMAIN:
    case CKA_KEY_TYPE: case CKA_MODULUS_BITS: case CKA_VALUE_LEN: case CKA_KEY_GEN_MECHANISM:
        return Kind::Ulong;
    case CKA_TOKEN: case CKA_PRIVATE: case CKA_MODIFIABLE: case CKA_COPYABLE: case CKA_DESTROYABLE:
    case CKA_TRUSTED: case CKA_SENSITIVE: case CKA_ENCRYPT: case CKA_DECRYPT: case CKA_WRAP: case CKA_UNWRAP:
    case CKA_SIGN: case CKA_SIGN_RECOVER: case CKA_VERIFY: case CKA_VERIFY_RECOVER: case CKA_DERIVE:
    case CKA_EXTRACTABLE: case CKA_LOCAL: case CKA_NEVER_EXTRACTABLE: case CKA_ALWAYS_SENSITIVE:
    case CKA_ALWAYS_AUTHENTICATE: case CKA_WRAP_WITH_TRUSTED:
        return Kind::Bool;
    case CKA_LABEL: case CKA_APPLICATION: case CKA_VALUE: case CKA_OBJECT_ID: case CKA_ISSUER:
    case CKA_SERIAL_NUMBER: case CKA_URL: case CKA_HASH_OF_SUBJECT_PUBLIC_KEY: case CKA_HASH_OF_ISSUER_PUBLIC_KEY:
    case CKA_SUBJECT: case CKA_ID: case CKA_START_DATE: case CKA_END_DATE: case CKA_MODULUS:
    case CKA_PUBLIC_EXPONENT: case CKA_PRIVATE_EXPONENT: case CKA_PRIME_1: case CKA_PRIME_2:
    case CKA_EXPONENT_1: case CKA_EXPONENT_2: case CKA_COEFFICIENT: case CKA_PUBLIC_KEY_INFO:
    case CKA_GOSTR3410_PARAMS: case CKA_GOSTR3411_PARAMS: case CKA_GOST28147_PARAMS: case CKA_EC_PARAMS:
    case CKA_EC_POINT: case CKA_CHECK_VALUE:
        return Kind::Bytes;
    default:
        return std::nullopt;
    }
}

Object::Map ObjectPolicy::ParseTemplate(const CK_ATTRIBUTE* attributes, CK_ULONG count) {
    Require(attributes != nullptr || count == 0, CKR_ARGUMENTS_BAD);
    Object::Map parsed;
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& attribute = attributes[i];
        Require(attribute.pValue != nullptr || attribute.ulValueLen == 0, CKR_ARGUMENTS_BAD);
        const std::optional<Kind> kind = KindOf(attribute.type);
        Require(kind.has_value(), CKR_ATTRIBUTE_TYPE_INVALID);
        if (*kind == Kind::Ulong) Require(attribute.ulValueLen == sizeof(CK_ULONG), CKR_ATTRIBUTE_VALUE_INVALID);
        if (*kind == Kind::Bool) Require(attribute.ulValueLen == 1, CKR_ATTRIBUTE_VALUE_INVALID);
        if (attribute.type == CKA_START_DATE || attribute.type == CKA_END_DATE)
            Require(attribute.ulValueLen == 0 || attribute.ulValueLen == sizeof(CK_DATE), CKR_ATTRIBUTE_VALUE_INVALID);
        const auto* bytes = static_cast<const unsigned char*>(attribute.pValue);
        Bytes value = attribute.ulValueLen ? Bytes(bytes, bytes + attribute.ulValueLen) : Bytes();
        if (*kind == Kind::Bool) value[0] = value[0] != CK_FALSE ? CK_TRUE : CK_FALSE;
        auto [it, inserted] = parsed.emplace(attribute.type, value);
        Require(inserted || it->second == value, CKR_TEMPLATE_INCONSISTENT);
    }
    return parsed;
}

void ObjectPolicy::Complete(Object& object, Origin origin) {
    const CK_RV missing = origin == Origin::Create ? CKR_TEMPLATE_INCOMPLETE : CKR_GENERAL_ERROR;
    const Rules rules = RulesOf(object, missing);
    const unsigned forbidden = origin == Origin::Create ? NotOnCreate : NotOnGenerate;
    for (const auto& [type, value] : object.Attributes()) {
        const Rule* rule = FindRule(rules, type);
        Require(rule != nullptr, CKR_ATTRIBUTE_TYPE_INVALID);
        Require((rule->flags & forbidden) == 0, CKR_ATTRIBUTE_READ_ONLY);
    }
    const CK_OBJECT_CLASS objectClass = object.Class();
    if (objectClass == CKO_CERTIFICATE && object.Has(CKA_CERTIFICATE_TYPE))
        Require(object.Ulong(CKA_CERTIFICATE_TYPE) == CKC_X_509, CKR_ATTRIBUTE_VALUE_INVALID);
    if (IsKeyClass(objectClass) && !object.Has(CKA_PRIVATE)) object.SetBool(CKA_PRIVATE, true);
    for (const Rule& rule : rules) {
        if (object.Has(rule.type)) continue;
        if (origin == Origin::Create && (rule.flags & RequiredOnCreate)) throw Pkcs11Error(CKR_TEMPLATE_INCOMPLETE);
        ApplyDefault(object, rule);
    }
    if (objectClass == CKO_PUBLIC_KEY || IsKeyClass(objectClass)) {
        const KeyTypeRow* row = KeyTypes::Find(objectClass, object.KeyType());
        if (row != nullptr && row->check != nullptr) row->check(object);
    }
    if (IsKeyClass(objectClass)) {
        const bool made = origin != Origin::Create;
        object.SetBool(CKA_ALWAYS_SENSITIVE, made && object.Bool(CKA_SENSITIVE));
        object.SetBool(CKA_NEVER_EXTRACTABLE, made && !object.Bool(CKA_EXTRACTABLE));
    }
}

bool ObjectPolicy::IsReadable(const Object& object, CK_ATTRIBUTE_TYPE type) {
    if (!IsKeyClass(object.Class())) return true;
    std::optional<Rules> rules = RulesFor(object.Class(), object.KeyType());
    const Rule* rule = rules ? FindRule(*rules, type) : nullptr;
    if (rule == nullptr || (rule->flags & Sensitive) == 0) return true;
    return !object.Bool(CKA_SENSITIVE, true) && object.Bool(CKA_EXTRACTABLE, false);
}

bool ObjectPolicy::IsSealed(const Object& object, CK_ATTRIBUTE_TYPE type) {
    if (object.IsPrivate()) return KindOf(type) == Kind::Bytes;
    if (!IsKeyClass(object.Class())) return false;
    std::optional<Rules> rules = RulesFor(object.Class(), object.KeyType());
    const Rule* rule = rules ? FindRule(*rules, type) : nullptr;
    return rule != nullptr && (rule->flags & Sensitive) != 0;
}

void ObjectPolicy::Modify(Object& object, const Object::Map& changes) {
    const Rules rules = RulesOf(object, CKR_GENERAL_ERROR);
    Require(object.Bool(CKA_MODIFIABLE, true), CKR_ACTION_PROHIBITED);
    for (const auto& [type, value] : changes) {
        Require(FindRule(rules, type) != nullptr, CKR_ATTRIBUTE_TYPE_INVALID);
        switch (type) {
        case CKA_LABEL: case CKA_ID: case CKA_SUBJECT: case CKA_START_DATE: case CKA_END_DATE:
        case CKA_APPLICATION: case CKA_OBJECT_ID: case CKA_ENCRYPT: case CKA_DECRYPT: case CKA_SIGN:
        case CKA_VERIFY: case CKA_WRAP: case CKA_UNWRAP: case CKA_SIGN_RECOVER: case CKA_VERIFY_RECOVER:
        case CKA_DERIVE:
            break;
        case CKA_VALUE:
            Require(object.Class() == CKO_DATA, CKR_ATTRIBUTE_READ_ONLY);
            break;
        case CKA_SENSITIVE:  // may only become true
            Require(value[0] == CK_TRUE || !object.Bool(CKA_SENSITIVE), CKR_ATTRIBUTE_READ_ONLY);
            break;
        case CKA_EXTRACTABLE:  // may only become false
            Require(value[0] == CK_FALSE || object.Bool(CKA_EXTRACTABLE), CKR_ATTRIBUTE_READ_ONLY);
            break;
        default:
            throw Pkcs11Error(CKR_ATTRIBUTE_READ_ONLY);
        }
    }
    for (const auto& [type, value] : changes) object.Set(type, value);
}

bool ObjectPolicy::Matches(const Object& object, const Object::Map& query) {
    for (const auto& [type, value] : query) {
        auto it = object.Attributes().find(type);
        if (it == object.Attributes().end() || it->second != value) return false;
    }
    return true;
}

}  // namespace softtoken
