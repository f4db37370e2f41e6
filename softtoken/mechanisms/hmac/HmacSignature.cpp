#include "mechanisms/hmac/HmacSignature.h"

namespace softtoken {

HmacSignature::HmacSignature(const std::string& digestName, const Bytes& key, size_t outputLength)
    : m_hmac(digestName, key), m_length(outputLength) {
    Require(m_length >= 1 && m_length <= m_hmac.Size(), CKR_MECHANISM_PARAM_INVALID);
}

void HmacSignature::Update(const unsigned char* data, size_t length) { m_hmac.Update(data, length); }

size_t HmacSignature::ResultLength() const { return m_length; }

Bytes HmacSignature::Final() {
    Bytes mac = m_hmac.Final();
    mac.resize(m_length);
    return mac;
}

}  // namespace softtoken
