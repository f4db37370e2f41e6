#include "mechanisms/gost/GostR3410Signature.h"

#include "objects/KeyAccess.h"
#include "crypto/Digest.h"
#include "crypto/GostR3410.h"

namespace softtoken {

GostR3410Signature::GostR3410Signature(CK_MECHANISM_TYPE mechanism, Object& key, bool verify)
    : m_mechanism(mechanism), m_key(key) {
    KeyAccess::Loaded([&] {
        if (verify) KeyAccess::GostPublic(m_key);
        else KeyAccess::GostPrivate(m_key);
    });
}

bool GostR3410Signature::AllowsMultiPart() const { return m_mechanism != CKM_GOSTR3410; }

void GostR3410Signature::Update(const unsigned char* data, size_t length) {
    if (length) m_data.insert(m_data.end(), data, data + length);
}

size_t GostR3410Signature::ResultLength() const { return crypto::GostR3410::kSignatureLength; }

Bytes GostR3410Signature::Hash() const {
    if (m_mechanism == CKM_GOSTR3410_WITH_GOSTR3411) return crypto::Digest::Gost94(m_data);
    Require(m_data.size() == crypto::GostR3410::kHashLength, CKR_DATA_LEN_RANGE);
    return m_data;
}

Bytes GostR3410Signature::Final() { return crypto::GostR3410::Sign(KeyAccess::GostPrivate(m_key), Hash()); }

CK_RV GostR3410Signature::Verify(const Bytes& signature) {
    return crypto::GostR3410::Verify(KeyAccess::GostPublic(m_key), Hash(), signature);
}

}  // namespace softtoken
