#include "mechanisms/digest/DigestOperation.h"

namespace softtoken {

DigestOperation::DigestOperation(const std::string& digestName) : m_digest(digestName) {}

DigestOperation::DigestOperation(const evp_md_st* md, engine_st* engine) : m_digest(md, engine) {}

void DigestOperation::Update(const unsigned char* data, size_t length) { m_digest.Update(data, length); }

size_t DigestOperation::ResultLength() const { return m_digest.Size(); }

Bytes DigestOperation::Final() { return m_digest.Final(); }

}  // namespace softtoken
