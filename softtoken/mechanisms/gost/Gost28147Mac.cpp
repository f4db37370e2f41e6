#include "mechanisms/gost/Gost28147Mac.h"

#include "crypto/Gost28147.h"

namespace softtoken {

Gost28147Mac::Gost28147Mac(const CK_MECHANISM& mechanism, Object& key) : m_key(key) {
    // An optional 8-byte initialisation vector, refused here when the MAC could not use it.
    Require(mechanism.ulParameterLen == 0 || mechanism.ulParameterLen == 8, CKR_MECHANISM_PARAM_INVALID);
    const auto* parameter = static_cast<const unsigned char*>(mechanism.pParameter);
    if (mechanism.ulParameterLen) m_iv.assign(parameter, parameter + 8);
    Require(crypto::Gost28147::IsUsableIv(m_iv), CKR_MECHANISM_PARAM_INVALID);
}

void Gost28147Mac::Update(const unsigned char* data, size_t length) {
    if (length) m_data.insert(m_data.end(), data, data + length);
}

size_t Gost28147Mac::ResultLength() const { return crypto::Gost28147::kMacLength; }

Bytes Gost28147Mac::Final() {
    return crypto::Gost28147::Mac(m_key.Get(CKA_VALUE), m_key.Get(CKA_GOST28147_PARAMS), m_iv, m_data);
}

}  // namespace softtoken
