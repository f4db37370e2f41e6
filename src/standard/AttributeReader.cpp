#include "standard/AttributeReader.h"

#include "standard/ModuleCall.h"

#include "crypto/CryptoError.h"

#include <cstring>

namespace {

const char kGetAttributeValue[] = "C_GetAttributeValue";

// An attribute the module gives but no key of the kind can have.
[[noreturn]] void Unusable()
{
    throw crypto::CryptoError(CKR_KEY_HANDLE_INVALID, "unusable key attribute");
}

}  // namespace

CAttributeReader::CAttributeReader(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object)
    : m_functions(functions), m_session(session), m_object(object)
{
}

CK_ULONG CAttributeReader::Ulong(CK_ATTRIBUTE_TYPE type) const
{
    const Bytes value = Value(type, sizeof(CK_ULONG));
    if (value.size() != sizeof(CK_ULONG)) Unusable();
    CK_ULONG result = 0;
    std::memcpy(&result, value.data(), sizeof result);
    return result;
}

CAttributeReader::Bytes CAttributeReader::Value(CK_ATTRIBUTE_TYPE type, size_t maxLength) const
{
    std::optional<Bytes> value = Optional(type, maxLength);
    if (!value) throw CPKCSException(CKR_ATTRIBUTE_TYPE_INVALID, kGetAttributeValue);
    return *value;
}

std::optional<CAttributeReader::Bytes> CAttributeReader::Optional(CK_ATTRIBUTE_TYPE type, size_t maxLength) const
{
    CK_ATTRIBUTE query = {type, nullptr, 0};
    const CK_RV rv = CModuleCall::Result(m_functions->C_GetAttributeValue, m_session, m_object, &query, 1UL);
    if (rv == CKR_ATTRIBUTE_TYPE_INVALID) return std::nullopt;
    if (rv != CKR_OK) throw CPKCSException(rv, kGetAttributeValue);
    if (query.ulValueLen == 0 || query.ulValueLen == CK_UNAVAILABLE_INFORMATION || query.ulValueLen > maxLength)
        Unusable();

    Bytes value(query.ulValueLen);
    CK_ATTRIBUTE read = {type, value.data(), static_cast<CK_ULONG>(value.size())};
    CModuleCall::Run(kGetAttributeValue, m_functions->C_GetAttributeValue, m_session, m_object, &read, 1UL);
    if (read.ulValueLen == 0 || read.ulValueLen > value.size()) Unusable();
    value.resize(read.ulValueLen);
    return value;
}
