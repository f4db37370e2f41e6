#include "mechanisms/CmacOperation.h"

#include "mechanisms/MechanismParameters.h"

namespace softtoken {

CmacOperation::CmacOperation(const std::string& cbcName, const Bytes& key, size_t resultLength)
    : m_mac(MechanismParameters::Crypto([&] { return crypto::Cmac(cbcName, key); })),
      m_resultLength(resultLength ? resultLength : m_mac.Length()) {
    Require(m_resultLength <= m_mac.Length(), CKR_MECHANISM_PARAM_INVALID);
}

void CmacOperation::Update(const unsigned char* data, size_t length) {
    MechanismParameters::Crypto([&] { m_mac.Update(data, length); });
}

Bytes CmacOperation::Final() {
    Bytes mac = MechanismParameters::Crypto([&] { return m_mac.Final(); });
    mac.resize(m_resultLength);
    return mac;
}

}  // namespace softtoken
