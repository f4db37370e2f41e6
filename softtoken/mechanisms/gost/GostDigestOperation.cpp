#include "mechanisms/gost/GostDigestOperation.h"

namespace softtoken {

GostDigestOperation::GostDigestOperation(crypto::GostDigest::Algorithm algorithm) : m_digest(algorithm) {}

void GostDigestOperation::Update(const unsigned char* data, size_t length) { m_digest.Update(data, length); }

size_t GostDigestOperation::ResultLength() const { return m_digest.Length(); }

Bytes GostDigestOperation::Final() { return m_digest.Final(); }

}  // namespace softtoken
