#pragma once
// The fields a token certificate object takes from an X.509 certificate's DER.
#include "CryptoError.h"
#include "KeyMaterial.h"

#include <string>

namespace crypto {

struct CertificateFields {
    Bytes subject, issuer;  // DER Names (CKA_SUBJECT, CKA_ISSUER)
    Bytes serialNumber;     // DER INTEGER (CKA_SERIAL_NUMBER)
    std::string commonName; // first CN of the subject, UTF-8; empty when there is none
    KeyMaterial publicKey;  // RSA modulus and exponent, or GOST public value and parameters
};

class Certificate {
public:
    // CKR_ATTRIBUTE_VALUE_INVALID unless der is exactly one X.509 certificate.
    static CertificateFields Parse(const Bytes& der);
};

}  // namespace crypto
