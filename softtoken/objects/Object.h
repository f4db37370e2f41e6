#pragma once
// One PKCS#11 object: its attributes by type, where it lives (token row or session), and,
// for token objects, whether its sealed attributes are currently opened.
#include "module/Pkcs11Error.h"

#include <map>
#include <memory>

namespace softtoken {

class Object {
public:
    using Map = std::map<CK_ATTRIBUTE_TYPE, Bytes>;

    Object() = default;
    explicit Object(Map attributes) : m_attributes(std::move(attributes)) {}
    // Values may be key material: they are wiped when the object goes.
    ~Object();
    Object(const Object&) = default;
    Object(Object&&) = default;
    Object& operator=(const Object&) = default;
    Object& operator=(Object&&) = default;

    const Map& Attributes() const { return m_attributes; }
    Map& Attributes() { return m_attributes; }
    bool Has(CK_ATTRIBUTE_TYPE type) const { return m_attributes.count(type) != 0; }
    const Bytes& Get(CK_ATTRIBUTE_TYPE type) const;  // empty when absent
    CK_ULONG Ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG fallback = CK_UNAVAILABLE_INFORMATION) const;
    bool Bool(CK_ATTRIBUTE_TYPE type, bool fallback = false) const;
    void Set(CK_ATTRIBUTE_TYPE type, Bytes value) { m_attributes[type] = std::move(value); }
    void SetUlong(CK_ATTRIBUTE_TYPE type, CK_ULONG value);
    void SetBool(CK_ATTRIBUTE_TYPE type, bool value);

    CK_OBJECT_CLASS Class() const { return Ulong(CKA_CLASS); }
    CK_KEY_TYPE KeyType() const { return Ulong(CKA_KEY_TYPE); }
    bool IsTokenObject() const { return Bool(CKA_TOKEN); }
    bool IsPrivate() const { return Bool(CKA_PRIVATE); }

    // Serialised attribute list: type, length and value of each, in type order.
    static Bytes Encode(const Map& attributes);
    static Map Decode(const Bytes& encoded);

    // Token objects: their store row and the sealed part as read from the store.
    long long rowId = 0;
    Bytes sealed;
    bool opened = true;  // false while sealed attributes are not in the map
    // Session objects: the session that owns them.
    CK_SESSION_HANDLE owner = 0;
    // A loaded key the mechanisms may keep for reuse; dropped when the object changes.
    std::shared_ptr<void> keyCache;

private:
    Map m_attributes;
};

}  // namespace softtoken
