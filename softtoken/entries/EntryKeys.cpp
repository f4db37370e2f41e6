// Exported entries that make keys from keys: wrapping, unwrapping and derivation.
#include "entries/OperationEntries.h"
#include "objects/KeyFactory.h"
#include "objects/KeyTypes.h"
#include "objects/ObjectPolicy.h"
#include "objects/WipeGuard.h"

using namespace softtoken;

namespace {

std::shared_ptr<Object> KeyAt(Module& module, Session& session, CK_OBJECT_HANDLE handle, CK_RV invalid) {
    std::shared_ptr<Object> key = module.TokenOf(session).Find(handle);
    Require(key != nullptr, invalid);
    return key;
}

// The bytes C_WrapKey encrypts: a secret key's value, a private key's PKCS#8 form.
Bytes WrappedForm(const Object& key) {
    if (key.Class() == CKO_SECRET_KEY) return key.Get(CKA_VALUE);
    const KeyTypeRow* row = KeyTypes::Find(key.Class(), key.KeyType());
    Require(key.Class() == CKO_PRIVATE_KEY && row != nullptr && row->toPkcs8 != nullptr, CKR_KEY_NOT_WRAPPABLE);
    return row->toPkcs8(key);
}

std::unique_ptr<CipherOperation> KeyCipher(Module& module, Session& session, const CK_MECHANISM& mechanism,
                                           CK_OBJECT_HANDLE handle, KeyUse use, std::shared_ptr<Object>& key) {
    key = KeyAt(module, session, handle, use == KeyUse::Wrap ? CKR_WRAPPING_KEY_HANDLE_INVALID
                                                             : CKR_UNWRAPPING_KEY_HANDLE_INVALID);
    const MechanismRow& row = MechanismTable::Require(mechanism, use == KeyUse::Wrap ? CKF_WRAP : CKF_UNWRAP);
    Require(row.cipher != nullptr, CKR_MECHANISM_INVALID);
    try {
        MechanismTable::CheckKey(row, *key, use);
    } catch (const Pkcs11Error& error) {
        if (error.Rv() != CKR_KEY_TYPE_INCONSISTENT) throw;
        throw Pkcs11Error(use == KeyUse::Wrap ? CKR_WRAPPING_KEY_TYPE_INCONSISTENT
                                              : CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT);
    }
    return row.cipher(mechanism, *key, use);
}

// A key from a template and the value a call recovered or derived; not made on the token
// from scratch, so it is not local.
Object KeyFromValue(Object::Map attributes, const Bytes& value, CK_OBJECT_CLASS defaultClass) {
    Object key(std::move(attributes));
    if (!key.Has(CKA_CLASS)) key.SetUlong(CKA_CLASS, defaultClass);
    Require(key.Has(CKA_KEY_TYPE), CKR_TEMPLATE_INCOMPLETE);
    Require(key.Class() == CKO_SECRET_KEY || key.Class() == CKO_PRIVATE_KEY, CKR_TEMPLATE_INCONSISTENT);
    Require(!key.Has(CKA_VALUE), CKR_TEMPLATE_INCONSISTENT);
    // The template is completed as for a generated key, which may not name the values; the
    // values come after, and the key type's check sees them.
    ObjectPolicy::Complete(key, ObjectPolicy::Origin::Generate);
    const KeyTypeRow* row = KeyTypes::Find(key.Class(), key.KeyType());
    if (key.Class() == CKO_SECRET_KEY) {
        Bytes secret = value;
        if (key.Has(CKA_VALUE_LEN)) {
            const CK_ULONG length = key.Ulong(CKA_VALUE_LEN);
            Require(length > 0 && length <= secret.size(), CKR_TEMPLATE_INCONSISTENT);
            secret.resize(length);
        }
        key.Set(CKA_VALUE, std::move(secret));
    } else {
        Require(row != nullptr && row->fromPkcs8 != nullptr, CKR_TEMPLATE_INCONSISTENT);
        row->fromPkcs8(value, key);
    }
    if (row != nullptr && row->check != nullptr) row->check(key);
    key.SetBool(CKA_LOCAL, false);
    key.SetBool(CKA_ALWAYS_SENSITIVE, false);
    key.SetBool(CKA_NEVER_EXTRACTABLE, false);
    return key;
}

void CheckMayStore(const Session& session, const Token& token, const Object::Map& attributes) {
    const Object object(attributes);
    if (object.Bool(CKA_TOKEN, false)) Require(session.IsReadWrite(), CKR_SESSION_READ_ONLY);
    if (object.Bool(CKA_PRIVATE, true)) Require(token.State() == Token::Login::User, CKR_USER_NOT_LOGGED_IN);
}

}  // namespace

extern "C" {

CK_RV C_WrapKey(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE wrappingKey,
                CK_OBJECT_HANDLE keyHandle, CK_BYTE_PTR wrapped, CK_ULONG_PTR wrappedLength) {
    return Guarded([&](Module& module) {
        Require(mechanism != nullptr && wrappedLength != nullptr, CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        std::shared_ptr<Object> wrapping;
        std::unique_ptr<CipherOperation> cipher =
            KeyCipher(module, session, *mechanism, wrappingKey, KeyUse::Wrap, wrapping);
        std::shared_ptr<Object> key = KeyAt(module, session, keyHandle, CKR_KEY_HANDLE_INVALID);
        Require(key->Bool(CKA_EXTRACTABLE), CKR_KEY_UNEXTRACTABLE);
        if (key->Bool(CKA_WRAP_WITH_TRUSTED)) Require(wrapping->Bool(CKA_TRUSTED), CKR_KEY_NOT_WRAPPABLE);
        Bytes value = WrappedForm(*key);
        WipeGuard wipe(value);
        return ToCaller(cipher->OneShot(value.data(), value.size()), wrapped, wrappedLength);
    });
}

CK_RV C_UnwrapKey(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE unwrappingKey,
                  CK_BYTE_PTR wrapped, CK_ULONG wrappedLength, CK_ATTRIBUTE_PTR keyTemplate, CK_ULONG count,
                  CK_OBJECT_HANDLE_PTR key) {
    return Guarded([&](Module& module) {
        Require(mechanism != nullptr && key != nullptr && (wrapped != nullptr || wrappedLength == 0),
                CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        std::shared_ptr<Object> unwrapping;
        std::unique_ptr<CipherOperation> cipher =
            KeyCipher(module, session, *mechanism, unwrappingKey, KeyUse::Unwrap, unwrapping);
        Object::Map attributes = ObjectPolicy::ParseTemplate(keyTemplate, count);
        CheckMayStore(session, module.TokenOf(session), attributes);
        Bytes value;
        try {
            value = cipher->OneShot(wrapped, wrappedLength);
        } catch (const Pkcs11Error& error) {
            if (error.Rv() == CKR_ENCRYPTED_DATA_LEN_RANGE) throw Pkcs11Error(CKR_WRAPPED_KEY_LEN_RANGE);
            if (error.Rv() == CKR_ENCRYPTED_DATA_INVALID) throw Pkcs11Error(CKR_WRAPPED_KEY_INVALID);
            throw;
        }
        WipeGuard wipe(value);
        *key = AddForSession(module, session, KeyFromValue(std::move(attributes), value, CKO_SECRET_KEY));
        return CKR_OK;
    });
}

CK_RV C_DeriveKey(CK_SESSION_HANDLE handle, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE baseKey,
                  CK_ATTRIBUTE_PTR keyTemplate, CK_ULONG count, CK_OBJECT_HANDLE_PTR key) {
    return Guarded([&](Module& module) {
        Require(mechanism != nullptr && key != nullptr, CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        std::shared_ptr<Object> base = KeyAt(module, session, baseKey, CKR_KEY_HANDLE_INVALID);
        const MechanismRow& row = MechanismTable::Require(*mechanism, CKF_DERIVE);
        Require(row.derive != nullptr, CKR_MECHANISM_INVALID);
        MechanismTable::CheckKey(row, *base, KeyUse::Derive);
        Object::Map attributes = ObjectPolicy::ParseTemplate(keyTemplate, count);
        CheckMayStore(session, module.TokenOf(session), attributes);
        Bytes secret = row.derive(*mechanism, *base);
        WipeGuard wipe(secret);
        Object derived = KeyFromValue(std::move(attributes), secret, CKO_SECRET_KEY);
        // A derived key stays as protected as its base key was.
        derived.SetBool(CKA_ALWAYS_SENSITIVE, base->Bool(CKA_ALWAYS_SENSITIVE) && derived.Bool(CKA_SENSITIVE));
        derived.SetBool(CKA_NEVER_EXTRACTABLE, base->Bool(CKA_NEVER_EXTRACTABLE) && !derived.Bool(CKA_EXTRACTABLE));
        *key = AddForSession(module, session, std::move(derived));
        return CKR_OK;
    });
}

}  // extern "C"
