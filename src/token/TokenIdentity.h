#pragma once
// A token asked for by its label, its serial number or both, matched against what the
// token reports with the blank padding of those fields ignored.
#include <string>

#include <p11-kit/pkcs11.h>

class CTokenIdentity {
public:
    // An empty text matches any token in that field.
    CTokenIdentity(std::string label, std::string serialNumber);

    bool Matches(const CK_TOKEN_INFO& info) const;
    // What was asked for: label "A", serial number "B", or both joined by "and".
    std::string Describe() const;

private:
    std::string m_label;
    std::string m_serialNumber;
};
