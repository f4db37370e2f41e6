#include "standard/AttributeTemplate.h"

#include <openssl/crypto.h>

#include <cstring>

CAttributeTemplate::~CAttributeTemplate()
{
    for (Bytes& value : m_values) OPENSSL_cleanse(value.data(), value.size());
}

CAttributeTemplate& CAttributeTemplate::Ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG value)
{
    Bytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return Value(type, bytes);
}

CAttributeTemplate& CAttributeTemplate::Bool(CK_ATTRIBUTE_TYPE type, bool value)
{
    return Value(type, Bytes{static_cast<unsigned char>(value ? CK_TRUE : CK_FALSE)});
}

CAttributeTemplate& CAttributeTemplate::Value(CK_ATTRIBUTE_TYPE type, const Bytes& value)
{
    m_types.push_back(type);
    m_values.push_back(value);
    return *this;
}

CAttributeTemplate& CAttributeTemplate::Text(CK_ATTRIBUTE_TYPE type, const std::string& value)
{
    return Value(type, Bytes(value.begin(), value.end()));
}

CK_ATTRIBUTE* CAttributeTemplate::Attributes()
{
    m_attributes.clear();
    for (size_t i = 0; i < m_values.size(); ++i) {
        Bytes& value = m_values[i];
        m_attributes.push_back({m_types[i], value.empty() ? &m_empty : value.data(),
                                static_cast<CK_ULONG>(value.size())});
    }
    return m_attributes.data();
}
