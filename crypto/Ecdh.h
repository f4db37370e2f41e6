#pragma once
// ECDH on the prime curves: the shared secret (the x coordinate, the field length long), and
// the ANSI X9.63 key derivation PKCS#11 names CKD_SHA*_KDF.
#include "EcKeys.h"

#include <string>

namespace crypto {

class Ecdh {
public:
    static Bytes SharedSecret(const EcKeys::PrivateKey& key, const EcKeys::PublicKey& peer);
    // length bytes of Hash(secret || counter || sharedInfo) for counter 1, 2, ...;
    // digestName as OpenSSL names it ("SHA256").
    static Bytes X963Kdf(const std::string& digestName, const Bytes& secret, const Bytes& sharedInfo, size_t length);
};

}  // namespace crypto
