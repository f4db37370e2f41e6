#pragma once
// Reads a PKCS#12 file holding one private key (RSA or GOST R 34.10-2001) and its certificate.
#include "CryptoError.h"
#include "KeyMaterial.h"

#include <string>

namespace crypto {

struct Pkcs12Contents {
    KeyMaterial privateKey;  // all components
    KeyMaterial publicKey;   // public components only
    Bytes certificateDer;
    std::string friendlyName;  // empty when the file has none
};

class Pkcs12 {
public:
    // Wrong password: CKR_PIN_INCORRECT; corrupt file, no key, no certificate, or a key that
    // does not match the certificate: CKR_DATA_INVALID.
    static Pkcs12Contents Parse(const Bytes& file, const Bytes& password);
};

}  // namespace crypto
