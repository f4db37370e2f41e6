#include "module/Pkcs11Error.h"

#include <string>

namespace softtoken {

Pkcs11Error::Pkcs11Error(CK_RV rv) : std::runtime_error("PKCS#11 code " + std::to_string(rv)), m_rv(rv) {}

}  // namespace softtoken
