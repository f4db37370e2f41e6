#pragma once
// Converts RSA keys between their PKCS#11 components and EVP_PKEY. The keys it makes run on
// OpenSSL's own RSA code through the private RSA engine, never on an engine of the host.
#include "OpenSsl.h"
#include "RsaKey.h"

namespace crypto {

class RsaKeys {
public:
    // CKR_ATTRIBUTE_VALUE_INVALID when a needed component is missing or zero. The CRT
    // components are used when all five are present.
    static EvpPkeyPtr LoadPrivate(const RsaKeyComponents& components);
    static EvpPkeyPtr LoadPublic(const Bytes& modulus, const Bytes& publicExponent);
    // A new key pair; publicExponent big-endian, odd, at least 3.
    static EvpPkeyPtr Generate(int modulusBits, const Bytes& publicExponent);
    static RsaKeyComponents Export(const EVP_PKEY* key, bool withPrivate);
    static bool IsRsa(const EVP_PKEY* key);
};

}  // namespace crypto
