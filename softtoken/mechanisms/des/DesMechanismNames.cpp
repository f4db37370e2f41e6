#include "mechanisms/des/DesMechanismNames.h"

namespace softtoken {

std::string DesMechanismNames::Named(size_t keyLength, const char* mode) {
    if (keyLength == kDesKeyLength) return std::string("DES-") + mode;
    if (keyLength == kDes3KeyLength) return std::string("DES-EDE3-") + mode;
    return {};
}

}  // namespace softtoken
