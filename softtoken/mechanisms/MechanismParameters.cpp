#include "mechanisms/MechanismParameters.h"

namespace softtoken {

void MechanismParameters::RequireNone(const CK_MECHANISM& mechanism) {
    Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
}

Bytes MechanismParameters::Iv(const CK_MECHANISM& mechanism, size_t blockSize) {
    Require(mechanism.pParameter != nullptr && mechanism.ulParameterLen == blockSize, CKR_MECHANISM_PARAM_INVALID);
    const auto* bytes = static_cast<const unsigned char*>(mechanism.pParameter);
    return Bytes(bytes, bytes + blockSize);
}

Bytes MechanismParameters::BytesOfLength(const CK_MECHANISM& mechanism, size_t length, size_t otherLength) {
    Require(mechanism.ulParameterLen == length || mechanism.ulParameterLen == otherLength,
            CKR_MECHANISM_PARAM_INVALID);
    return Pointed(static_cast<const unsigned char*>(mechanism.pParameter), mechanism.ulParameterLen);
}

Bytes MechanismParameters::Pointed(const unsigned char* data, CK_ULONG length) {
    if (length == 0) return {};
    Require(data != nullptr, CKR_MECHANISM_PARAM_INVALID);
    return Bytes(data, data + length);
}

}  // namespace softtoken
