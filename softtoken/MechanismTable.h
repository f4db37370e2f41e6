#pragma once
// The mechanisms the token implements, with their true key sizes and flags.
#include <p11-kit/pkcs11.h>

#include <vector>

namespace softtoken {

class MechanismTable {
public:
    static std::vector<CK_MECHANISM_TYPE> Types();
    // False when the token does not implement the mechanism.
    static bool Info(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO& info);
};

}  // namespace softtoken
