#include "token/TokenIdentity.h"

#include <utility>

#include "token/TokenState.h"

namespace {

// A field of the token's information is blank-padded: trailing blanks say nothing.
std::string WithoutTrailingBlanks(std::string text)
{
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

bool FieldMatches(const std::string& wanted, const unsigned char* field, std::size_t size)
{
    return wanted.empty() || CTokenState::Field(field, size) == wanted;
}

}  // namespace

CTokenIdentity::CTokenIdentity(std::string label, std::string serialNumber)
    : m_label(WithoutTrailingBlanks(std::move(label))), m_serialNumber(WithoutTrailingBlanks(std::move(serialNumber)))
{
}

bool CTokenIdentity::Matches(const CK_TOKEN_INFO& info) const
{
    return FieldMatches(m_label, info.label, sizeof(info.label)) &&
           FieldMatches(m_serialNumber, info.serialNumber, sizeof(info.serialNumber));
}

std::string CTokenIdentity::Describe() const
{
    const std::string label = m_label.empty() ? std::string() : "label \"" + m_label + "\"";
    const std::string serial = m_serialNumber.empty() ? std::string() : "serial number \"" + m_serialNumber + "\"";
    if (label.empty() || serial.empty()) {
        return label + serial;
    }
    return label + " and " + serial;
}
