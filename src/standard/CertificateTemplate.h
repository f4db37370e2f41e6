#pragma once
// The template of an X.509 certificate object, with the attributes the software token's own
// import entries give one: subject, issuer and serial number taken from the DER.
#include "standard/AttributeTemplate.h"

#include "crypto/Certificate.h"

#include <string>

class CCertificateTemplate {
public:
    using Bytes = std::vector<unsigned char>;

    // CKR_ATTRIBUTE_VALUE_INVALID unless der is exactly one X.509 certificate.
    static CAttributeTemplate Make(const std::string& label, const Bytes& id, const Bytes& der);
    static CAttributeTemplate Make(const std::string& label, const Bytes& id, const Bytes& der,
                                   const crypto::CertificateFields& fields);
};
