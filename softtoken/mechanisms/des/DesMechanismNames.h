#pragma once
// OpenSSL's names of single and triple DES ciphers for a key length (8 or 24 bytes); empty
// for other lengths.
#include <string>

namespace softtoken {

class DesMechanismNames {
public:
    static constexpr size_t kDesKeyLength = 8;
    static constexpr size_t kDes3KeyLength = 24;

    // mode: "ECB" or "CBC".
    static std::string Named(size_t keyLength, const char* mode);
    static std::string Ecb(size_t keyLength) { return Named(keyLength, "ECB"); }
    static std::string DesEcb(size_t keyLength) { return keyLength == kDesKeyLength ? Ecb(keyLength) : std::string(); }
    static std::string Des3Ecb(size_t keyLength) { return keyLength == kDes3KeyLength ? Ecb(keyLength) : std::string(); }
};

}  // namespace softtoken
