#pragma once
// Thrown by the crypto layer: carries the PKCS#11 result the module should answer.
#include <p11-kit/pkcs11.h>

#include <stdexcept>
#include <string>

namespace crypto {

class CryptoError : public std::runtime_error {
public:
    CryptoError(CK_RV rv, const std::string& what);
    CK_RV Rv() const { return m_rv; }

private:
    CK_RV m_rv;
};

}  // namespace crypto
