#pragma once
// OpenSSL's names of the AES ciphers for a key length; empty for lengths AES does not have.
#include <string>

namespace softtoken {

class AesMechanismNames {
public:
    static bool IsKeyLength(size_t keyLength) { return keyLength == 16 || keyLength == 24 || keyLength == 32; }
    // mode: "ECB", "CBC", "CTR", "GCM".
    static std::string Named(size_t keyLength, const char* mode);
    static std::string Ecb(size_t keyLength) { return Named(keyLength, "ECB"); }
};

}  // namespace softtoken
