#pragma once
// A PKCS#11 template that owns its values; they are wiped when it goes, since key templates
// carry private key material.
#include <p11-kit/pkcs11.h>

#include <string>
#include <vector>

class CAttributeTemplate {
public:
    using Bytes = std::vector<unsigned char>;

    CAttributeTemplate() = default;
    CAttributeTemplate(const CAttributeTemplate&) = delete;
    CAttributeTemplate& operator=(const CAttributeTemplate&) = delete;
    CAttributeTemplate(CAttributeTemplate&&) = default;
    CAttributeTemplate& operator=(CAttributeTemplate&&) = default;
    ~CAttributeTemplate();

    CAttributeTemplate& Ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG value);
    CAttributeTemplate& Bool(CK_ATTRIBUTE_TYPE type, bool value);
    CAttributeTemplate& Value(CK_ATTRIBUTE_TYPE type, const Bytes& value);
    CAttributeTemplate& Text(CK_ATTRIBUTE_TYPE type, const std::string& value);

    // The attributes in the order added; valid until the template changes or goes.
    CK_ATTRIBUTE* Attributes();
    CK_ULONG Count() const { return static_cast<CK_ULONG>(m_values.size()); }

private:
    std::vector<CK_ATTRIBUTE_TYPE> m_types;
    std::vector<Bytes> m_values;
    std::vector<CK_ATTRIBUTE> m_attributes;
    unsigned char m_empty = 0;  // what an empty value points at: some modules refuse null
};
