#include "token/BasicOperator.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <sstream>
#include <vector>

#include "support/IgnoredAnswers.h"
#include "support/PKCSException.h"

namespace {

const char kTokenLabel[] = "KORVEL Token";
const size_t kLabelFieldSize = 32;
const char kListingOperation[] = "CTokenOperator::GetObjects";
const char kFormatOperation[] = "CTokenOperator::FormatToken";

std::string HexText(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

// Values shorter than a CK_OBJECT_CLASS cannot come from a conforming module; they are
// shown as "other" rather than read past their end.
std::string ClassName(const std::string& value)
{
    CK_OBJECT_CLASS objectClass = 0;
    if (value.size() < sizeof(objectClass)) {
        return "other";
    }
    std::memcpy(&objectClass, value.data(), sizeof(objectClass));
    switch (objectClass) {
    case CKO_DATA:
        return "CKO_DATA";
    case CKO_CERTIFICATE:
        return "CKO_CERTIFICATE";
    case CKO_PUBLIC_KEY:
        return "CKO_PUBLIC_KEY";
    case CKO_PRIVATE_KEY:
        return "CKO_PRIVATE_KEY";
    case CKO_SECRET_KEY:
        return "CKO_SECRET_KEY";
    default:
        return "other";
    }
}

}  // namespace

void CBasicOperator::GetDefaultLabel(unsigned char* label, unsigned long size)
{
    std::memset(label, ' ', size);
    std::memcpy(label, kTokenLabel, std::min<unsigned long>(size, std::strlen(kTokenLabel)));
}

void CBasicOperator::FormatToken()
{
    CheckTokenAndPin(CKU_SO);
    std::vector<unsigned char> soPin(m_pins.SoPin().begin(), m_pins.SoPin().end());
    unsigned char label[kLabelFieldSize];
    GetDefaultLabel(label, sizeof(label));
    CK_RV rv = m_pFunctionList->C_InitToken(m_slotId, soPin.data(), soPin.size(), label);
    std::fill(soPin.begin(), soPin.end(), 0);
    if (rv != CKR_OK) {
        throw CPKCSException(rv, kFormatOperation);
    }
    InitUserPinIfUnset();
}

void CBasicOperator::InitUserPinIfUnset()
{
    CK_TOKEN_INFO info;
    std::memset(&info, 0, sizeof(info));
    CK_RV rv = m_pFunctionList->C_GetTokenInfo(m_slotId, &info);
    if (rv != CKR_OK) {
        throw CPKCSException(rv, kFormatOperation);
    }
    // A token that follows the standard has no user PIN after C_InitToken, and one like the
    // software token gives the user the SO PIN, which is not the run's user PIN when they differ.
    if ((info.flags & CKF_USER_PIN_INITIALIZED) == 0 || m_pins.UserPin() != m_pins.SoPin()) {
        const std::vector<unsigned char> userPin(m_pins.UserPin().begin(), m_pins.UserPin().end());
        SetUserPinAsSo(userPin, kFormatOperation);
    }
}

void CBasicOperator::SetUserPinAsSo(const std::vector<unsigned char>& userPin, const char* operation)
{
    // On a session of its own that is closed whatever happens, so the caller's sessions
    // keep their state.
    std::vector<unsigned char> soPin(m_pins.SoPin().begin(), m_pins.SoPin().end());
    std::vector<unsigned char> newPin(userPin);
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    CK_RV rv = m_pFunctionList->C_OpenSession(m_slotId, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session);
    if (rv != CKR_OK) {
        throw CPKCSException(rv, operation);
    }
    rv = m_pFunctionList->C_Login(session, CKU_SO, soPin.data(), soPin.size());
    if (rv == CKR_OK) {
        rv = m_pFunctionList->C_InitPIN(session, newPin.empty() ? nullptr : newPin.data(), newPin.size());
        const CIgnoredAnswers afterFailure(rv != CKR_OK);
        const CK_RV logoutRv = m_pFunctionList->C_Logout(session);
        rv = rv != CKR_OK ? rv : logoutRv;
    }
    std::fill(soPin.begin(), soPin.end(), 0);
    std::fill(newPin.begin(), newPin.end(), 0);
    const CIgnoredAnswers afterFailure(rv != CKR_OK);
    const CK_RV closeRv = m_pFunctionList->C_CloseSession(session);
    rv = rv != CKR_OK ? rv : closeRv;
    if (rv != CKR_OK) {
        throw CPKCSException(rv, operation);
    }
}

void CBasicOperator::ChangePin(const std::string& oldPin, const std::string& newPin)
{
    CheckTokenAndSessionPin();
    std::vector<unsigned char> oldBytes(oldPin.begin(), oldPin.end());
    std::vector<unsigned char> newBytes(newPin.begin(), newPin.end());
    CK_RV rv = m_pFunctionList->C_SetPIN(m_hSession, oldBytes.empty() ? nullptr : oldBytes.data(), oldBytes.size(),
                                         newBytes.empty() ? nullptr : newBytes.data(), newBytes.size());
    std::fill(oldBytes.begin(), oldBytes.end(), 0);
    std::fill(newBytes.begin(), newBytes.end(), 0);
    if (rv != CKR_OK) {
        throw CPKCSException(rv, "CTokenOperator::ChangePin");
    }
}

std::string CBasicOperator::ReadAttribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
{
    CK_ATTRIBUTE attribute = {type, nullptr, 0};
    CK_RV rv = m_pFunctionList->C_GetAttributeValue(m_hSession, object, &attribute, 1);
    if (rv != CKR_OK) {
        throw CPKCSException(rv, kListingOperation);
    }
    std::string value(attribute.ulValueLen, '\0');
    attribute.pValue = value.empty() ? nullptr : &value[0];
    attribute.ulValueLen = value.size();
    rv = m_pFunctionList->C_GetAttributeValue(m_hSession, object, &attribute, 1);
    if (rv != CKR_OK) {
        throw CPKCSException(rv, kListingOperation);
    }
    // A module may deliver fewer bytes than it announced; keep only those.
    value.resize(std::min<CK_ULONG>(attribute.ulValueLen, value.size()));
    return value;
}

void CBasicOperator::GetObjects()
{
    CheckToken();
    CK_RV rv = m_pFunctionList->C_FindObjectsInit(m_hSession, nullptr, 0);
    if (rv != CKR_OK) {
        throw CPKCSException(rv, kListingOperation);
    }
    std::vector<CK_OBJECT_HANDLE> handles;
    for (;;) {
        CK_OBJECT_HANDLE handle = 0;
        CK_ULONG count = 0;
        rv = m_pFunctionList->C_FindObjects(m_hSession, &handle, 1, &count);
        if (rv != CKR_OK) {
            {
                const CIgnoredAnswers cleanUp;
                m_pFunctionList->C_FindObjectsFinal(m_hSession);
            }
            throw CPKCSException(rv, kListingOperation);
        }
        if (count == 0) {
            break;
        }
        handles.push_back(handle);
    }
    const CK_RV finalRv = m_pFunctionList->C_FindObjectsFinal(m_hSession);

    // Everything is gathered before anything is printed, so a failure prints nothing.
    std::vector<std::string> labels;
    for (CK_OBJECT_HANDLE handle : handles) {
        labels.push_back(ReadAttribute(handle, CKA_LABEL));
    }
    std::vector<std::string> identifiers;
    for (CK_OBJECT_HANDLE handle : handles) {
        identifiers.push_back(HexText(ReadAttribute(handle, CKA_ID)));
    }
    std::vector<std::string> types;
    for (CK_OBJECT_HANDLE handle : handles) {
        types.push_back(ClassName(ReadAttribute(handle, CKA_CLASS)));
    }

    std::ostringstream listing;
    listing << "Token contains " << handles.size() << " objects.\r\n";
    for (size_t k = 0; k < handles.size(); ++k) {
        listing << "Object " << k << "\r\n"
                << "ID: " << identifiers[k] << "\r\n"
                << "Label: " << labels[k] << "\r\n"
                << "Type: " << types[k] << "\r\n\r\n";
    }
    std::cout << listing.str() << std::flush;

    if (finalRv != CKR_OK) {
        throw CPKCSException(finalRv, kListingOperation);
    }
}
