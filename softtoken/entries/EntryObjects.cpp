// Exported entries for objects: creation, destruction, attributes and search.
#include "objects/CertificateObject.h"
#include "entries/EntryGuard.h"
#include "objects/ObjectPolicy.h"
#include "crypto/Gost28147.h"

using namespace softtoken;

namespace {

// Value checks a template cannot express: key lengths and parameter sets.
void CheckKeyValues(const Object& object) {
    if (object.Class() == CKO_SECRET_KEY && object.KeyType() == CKK_GOST28147) {
        Require(object.Get(CKA_VALUE).size() == crypto::Gost28147::kKeyLength, CKR_ATTRIBUTE_VALUE_INVALID);
        Require(crypto::Gost28147::IsKnownParamSet(object.Get(CKA_GOST28147_PARAMS)), CKR_ATTRIBUTE_VALUE_INVALID);
    }
}

void CheckWritable(const Session& session, const Object& object) {
    if (object.IsTokenObject()) Require(session.IsReadWrite(), CKR_SESSION_READ_ONLY);
}

// Reads one attribute into the caller's template entry; returns the entry's code.
CK_RV ReadAttribute(const Object& object, CK_ATTRIBUTE& attribute) {
    auto it = object.Attributes().find(attribute.type);
    if (it == object.Attributes().end()) {
        attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
        return CKR_ATTRIBUTE_TYPE_INVALID;
    }
    if (!ObjectPolicy::IsReadable(object, attribute.type)) {
        attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
        return CKR_ATTRIBUTE_SENSITIVE;
    }
    const Bytes& value = it->second;
    if (attribute.pValue == nullptr) {
        attribute.ulValueLen = value.size();
        return CKR_OK;
    }
    if (attribute.ulValueLen < value.size()) {
        attribute.ulValueLen = CK_UNAVAILABLE_INFORMATION;
        return CKR_BUFFER_TOO_SMALL;
    }
    if (!value.empty()) std::memcpy(attribute.pValue, value.data(), value.size());
    attribute.ulValueLen = value.size();
    return CKR_OK;
}

}  // namespace

extern "C" {

CK_RV C_CreateObject(CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR attributes, CK_ULONG count,
                     CK_OBJECT_HANDLE_PTR object) {
    return Guarded([&](Module& module) {
        Require(object != nullptr && (attributes != nullptr || count == 0), CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        Object created(ObjectPolicy::ParseTemplate(attributes, count));
        CertificateObject::DeriveFields(created);
        ObjectPolicy::Complete(created, ObjectPolicy::Origin::Create);
        CheckKeyValues(created);
        CheckWritable(session, created);
        if (!created.IsTokenObject()) created.owner = handle;
        *object = module.TokenOf(session).Add(std::move(created));
        return CKR_OK;
    });
}

CK_RV C_CopyObject(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle, CK_ATTRIBUTE_PTR attributes,
                   CK_ULONG count, CK_OBJECT_HANDLE_PTR copy) {
    return Guarded([&](Module& module) {
        Require(copy != nullptr && (attributes != nullptr || count == 0), CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        std::shared_ptr<Object> source = module.ObjectAt(session, objectHandle);
        Require(source->Bool(CKA_COPYABLE, true), CKR_ACTION_PROHIBITED);
        Object duplicate(source->Attributes());
        Object::Map changes = ObjectPolicy::ParseTemplate(attributes, count);
        // Where the copy lives and what it may do later are the copy's own; the rest
        // changes as C_SetAttributeValue would change it.
        Object::Map own;
        for (auto it = changes.begin(); it != changes.end();) {
            switch (it->first) {
            case CKA_TOKEN:
            case CKA_PRIVATE:
                break;
            case CKA_MODIFIABLE:
            case CKA_COPYABLE:
            case CKA_DESTROYABLE:  // may only be taken away; Booleans are one byte long
                Require(it->second[0] == CK_FALSE || duplicate.Bool(it->first, true), CKR_ATTRIBUTE_READ_ONLY);
                break;
            default:
                ++it;
                continue;
            }
            own.insert(*it);
            it = changes.erase(it);
        }
        if (!changes.empty()) ObjectPolicy::Modify(duplicate, changes);
        for (auto& [type, value] : own) duplicate.Set(type, value);
        CheckWritable(session, duplicate);
        duplicate.owner = duplicate.IsTokenObject() ? 0 : handle;
        *copy = module.TokenOf(session).Add(std::move(duplicate));
        return CKR_OK;
    });
}

CK_RV C_DestroyObject(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle) {
    return Guarded([&](Module& module) {
        Session& session = module.SessionAt(handle);
        std::shared_ptr<Object> object = module.ObjectAt(session, objectHandle);
        CheckWritable(session, *object);
        Require(object->Bool(CKA_DESTROYABLE, true), CKR_ACTION_PROHIBITED);
        module.TokenOf(session).Destroy(objectHandle);
        return CKR_OK;
    });
}

CK_RV C_GetObjectSize(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle, CK_ULONG_PTR size) {
    return Guarded([&](Module& module) {
        Require(size != nullptr, CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        *size = Object::Encode(module.ObjectAt(session, objectHandle)->Attributes()).size();
        return CKR_OK;
    });
}

CK_RV C_GetAttributeValue(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle, CK_ATTRIBUTE_PTR attributes,
                          CK_ULONG count) {
    return Guarded([&](Module& module) {
        Require(attributes != nullptr || count == 0, CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        std::shared_ptr<Object> object = module.ObjectAt(session, objectHandle);
        CK_RV result = CKR_OK;
        for (CK_ULONG i = 0; i < count; ++i) {
            const CK_RV rv = ReadAttribute(*object, attributes[i]);
            if (rv != CKR_OK) result = rv;
        }
        return result;
    });
}

CK_RV C_SetAttributeValue(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE objectHandle, CK_ATTRIBUTE_PTR attributes,
                          CK_ULONG count) {
    return Guarded([&](Module& module) {
        Require(attributes != nullptr || count == 0, CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        std::shared_ptr<Object> object = module.ObjectAt(session, objectHandle);
        CheckWritable(session, *object);
        Token& token = module.TokenOf(session);
        token.CheckMayWrite(*object);
        Object changed = *object;
        ObjectPolicy::Modify(changed, ObjectPolicy::ParseTemplate(attributes, count));
        token.Update(objectHandle, std::move(changed));
        return CKR_OK;
    });
}

CK_RV C_FindObjectsInit(CK_SESSION_HANDLE handle, CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
    return Guarded([&](Module& module) {
        Require(attributes != nullptr || count == 0, CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        Require(!session.searching, CKR_OPERATION_ACTIVE);
        Object::Map query;
        bool contradiction = false;
        for (CK_ULONG i = 0; i < count; ++i) {
            // A search compares bytes: values of any length are allowed and simply match nothing.
            Bytes value = FromCaller(attributes[i].pValue, attributes[i].ulValueLen);
            if (ObjectPolicy::KindOf(attributes[i].type) == ObjectPolicy::Kind::Bool && value.size() == 1)
                value[0] = value[0] != CK_FALSE ? CK_TRUE : CK_FALSE;
            auto [it, inserted] = query.emplace(attributes[i].type, value);
            if (!inserted && it->second != value) contradiction = true;  // nothing can match
        }
        Token& token = module.TokenOf(session);
        token.Refresh();
        session.found = contradiction ? std::vector<CK_OBJECT_HANDLE>() : token.Search(query);
        session.nextFound = 0;
        session.searching = true;
        return CKR_OK;
    });
}

CK_RV C_FindObjects(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE_PTR objects, CK_ULONG maxCount, CK_ULONG_PTR count) {
    return Guarded([&](Module& module) {
        Require(objects != nullptr && count != nullptr, CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        Require(session.searching, CKR_OPERATION_NOT_INITIALIZED);
        CK_ULONG given = 0;
        while (given < maxCount && session.nextFound < session.found.size())
            objects[given++] = session.found[session.nextFound++];
        *count = given;
        return CKR_OK;
    });
}

CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE handle) {
    return Guarded([&](Module& module) {
        Session& session = module.SessionAt(handle);
        Require(session.searching, CKR_OPERATION_NOT_INITIALIZED);
        session.searching = false;
        session.found.clear();
        session.found.shrink_to_fit();
        return CKR_OK;
    });
}

}  // extern "C"
