#pragma once
// The attribute rules of every object class the token keeps: which attributes a class has,
// their value kinds and defaults, which are required, sensitive, sealed at rest or
// modifiable. Templates are checked here before any object is made.
#include "objects/Object.h"

#include <optional>

namespace softtoken {

class ObjectPolicy {
public:
    enum class Kind { Ulong, Bool, Bytes };
    // How an object comes to be: the caller's C_CreateObject, or made by the token
    // (generation, import), which may set the attributes a caller may not.
    enum class Origin { Create, Generate };

    static std::optional<Kind> KindOf(CK_ATTRIBUTE_TYPE type);

    // Copies a caller's template, checking pointers, known types, value lengths and
    // repeated types. A null template is allowed only with a count of 0.
    static Object::Map ParseTemplate(const CK_ATTRIBUTE* attributes, CK_ULONG count);

    // Checks an object's attributes against its class and fills the defaults.
    static void Complete(Object& object, Origin origin);

    // Whether a caller may read the attribute's value (CKR_ATTRIBUTE_SENSITIVE otherwise).
    static bool IsReadable(const Object& object, CK_ATTRIBUTE_TYPE type);
    // Whether the attribute is stored sealed under the token key.
    static bool IsSealed(const Object& object, CK_ATTRIBUTE_TYPE type);
    // Applies C_SetAttributeValue's changes, with its codes.
    static void Modify(Object& object, const Object::Map& changes);
    // Whether an object has every attribute of a search template with the same value.
    static bool Matches(const Object& object, const Object::Map& query);
};

}  // namespace softtoken
