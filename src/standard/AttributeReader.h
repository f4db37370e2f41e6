#pragma once
// Reads attributes of one object with the two-call length protocol, refusing lengths a key
// attribute cannot have, and never reading past what the module wrote.
#include <p11-kit/pkcs11.h>

#include <optional>
#include <vector>

class CAttributeReader {
public:
    using Bytes = std::vector<unsigned char>;

    CAttributeReader(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object);

    // Exactly sizeof(CK_ULONG) bytes.
    CK_ULONG Ulong(CK_ATTRIBUTE_TYPE type) const;
    // Between 1 and maxLength bytes.
    Bytes Value(CK_ATTRIBUTE_TYPE type, size_t maxLength) const;
    // The same, or nothing when the object lacks the attribute (CKR_ATTRIBUTE_TYPE_INVALID).
    std::optional<Bytes> Optional(CK_ATTRIBUTE_TYPE type, size_t maxLength) const;

private:
    CK_FUNCTION_LIST* m_functions;
    CK_SESSION_HANDLE m_session;
    CK_OBJECT_HANDLE m_object;
};
