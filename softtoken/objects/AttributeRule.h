#pragma once
// One attribute of an object class or key type: its flags and its default. The key types'
// rules live with their families (mechanisms/<family>/); ObjectPolicy applies them.
#include <p11-kit/pkcs11.h>

#include <cstddef>

namespace softtoken {

enum AttributeFlag : unsigned {
    RequiredOnCreate = 1,  // C_CreateObject needs it
    NotOnCreate = 2,       // only the token sets it when an object is created
    NotOnGenerate = 4,     // only the token sets it when a key is generated or imported
    Sensitive = 8,         // unreadable while the key is sensitive or unextractable
};

enum class AttributeDefault { None, False, True, Empty, Zero, Unavailable };

struct AttributeRule {
    CK_ATTRIBUTE_TYPE type;
    unsigned flags;
    AttributeDefault fallback;
};

}  // namespace softtoken
