#pragma once
// PKCS#10 certificate requests built from the vendor CSR entry's string lists.
#include "CryptoError.h"
#include "KeyMaterial.h"

#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace crypto {

// The subject, attribute and extension lists of a request, as the vendor CSR entry takes them.
struct RequestLists {
    std::vector<std::pair<std::string, std::string>> subject, attributes;
    std::vector<std::array<std::string, 3>> extensions;
};

class CertificateRequest {
public:
    // The signature value over a request's to-be-signed DER: PKCS#1 v1.5 bytes for RSA, the
    // 64 bytes s||r for GOST. May throw; the request is then not made.
    using Signer = std::function<Bytes(const Bytes& toBeSigned)>;

    // subject: (type, value) pairs such as ("CN", "name"); attributes: (name, value) pairs such
    // as ("challengePassword", "7591"); extensions: (name, value, critical) where "1" is
    // critical and "0" or "" is not. Signed with sha256WithRSAEncryption or
    // GOST R 34.11-94 with GOST R 34.10-2001. Unknown names or values: CKR_ARGUMENTS_BAD;
    // keys that are not one pair: CKR_KEY_HANDLE_INVALID. Returns DER.
    static Bytes Build(const KeyMaterial& publicKey, const KeyMaterial& privateKey,
                       const std::vector<std::pair<std::string, std::string>>& subject,
                       const std::vector<std::pair<std::string, std::string>>& attributes,
                       const std::vector<std::array<std::string, 3>>& extensions);
    // The same request from the public key alone, its signature made by sign (with the same
    // algorithms, so the signer must hash with SHA-256 or GOST R 34.11-94 as the key needs).
    static Bytes BuildSigned(const KeyMaterial& publicKey, const RequestLists& lists, const Signer& sign);

    // Reads the vendor CSR entry's packed lists: count entries of NUL-terminated strings, two
    // per subject or attribute entry, three per extension. A null list with entries, more than
    // 64 entries or a string longer than 1024 bytes: CKR_ARGUMENTS_BAD.
    static RequestLists Unpack(const unsigned char* subject, CK_ULONG subjectCount, const unsigned char* attributes,
                               CK_ULONG attributeCount, const unsigned char* extensions, CK_ULONG extensionCount);
};

}  // namespace crypto
