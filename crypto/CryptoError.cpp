#include "CryptoError.h"

namespace crypto {

CryptoError::CryptoError(CK_RV rv, const std::string& what) : std::runtime_error(what), m_rv(rv) {}

}  // namespace crypto
