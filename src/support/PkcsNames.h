#pragma once
// The standard's names of PKCS#11 numbers: return values, and the mechanisms, attributes,
// object classes, key types, certificate types and user types the utility and its
// standard-call layer use.
#include <string>

#include <p11-kit/pkcs11.h>

class CPkcsNames {
public:
    // Each returns the name, or null when the table has none.
    static const char* ReturnValue(CK_RV rv);
    static const char* Mechanism(CK_MECHANISM_TYPE type);
    static const char* Attribute(CK_ATTRIBUTE_TYPE type);
    static const char* ObjectClass(CK_OBJECT_CLASS objectClass);
    static const char* KeyType(CK_KEY_TYPE keyType);
    static const char* CertificateType(CK_CERTIFICATE_TYPE type);
    static const char* UserType(CK_USER_TYPE type);

    // The name, or the value in hexadecimal ("0x1b") when there is none.
    static std::string OrHex(const char* name, CK_ULONG value);
};
