#pragma once
// PKCS#10 certificate requests built from the vendor CSR entry's string lists.
#include "CryptoError.h"
#include "KeyMaterial.h"

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace softtoken::crypto {

class CertificateRequest {
public:
    // subject: (type, value) pairs such as ("CN", "name"); attributes: (name, value) pairs such
    // as ("challengePassword", "7591"); extensions: (name, value, critical) where "1" is
    // critical and "0" or "" is not. Signed with sha256WithRSAEncryption or
    // GOST R 34.11-94 with GOST R 34.10-2001. Unknown names or values: CKR_ARGUMENTS_BAD;
    // keys that are not one pair: CKR_KEY_HANDLE_INVALID. Returns DER.
    static Bytes Build(const KeyMaterial& publicKey, const KeyMaterial& privateKey,
                       const std::vector<std::pair<std::string, std::string>>& subject,
                       const std::vector<std::pair<std::string, std::string>>& attributes,
                       const std::vector<std::array<std::string, 3>>& extensions);
};

}  // namespace softtoken::crypto
