#include "mechanisms/aes/AesMechanismNames.h"

namespace softtoken {

std::string AesMechanismNames::Named(size_t keyLength, const char* mode) {
    if (!IsKeyLength(keyLength)) return {};
    return "AES-" + std::to_string(keyLength * 8) + "-" + mode;
}

}  // namespace softtoken
