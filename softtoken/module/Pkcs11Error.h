#pragma once
// The exception every layer of the module throws to answer a call with a PKCS#11 code;
// the exported entry points turn it back into the return value.
#include <p11-kit/pkcs11.h>

#include <stdexcept>
#include <vector>

namespace softtoken {

using Bytes = std::vector<unsigned char>;

class Pkcs11Error : public std::runtime_error {
public:
    explicit Pkcs11Error(CK_RV rv);
    CK_RV Rv() const noexcept { return m_rv; }

private:
    CK_RV m_rv;
};

// Throws Pkcs11Error(rv) when the condition does not hold.
inline void Require(bool condition, CK_RV rv) {
    if (!condition) throw Pkcs11Error(rv);
}

}  // namespace softtoken
