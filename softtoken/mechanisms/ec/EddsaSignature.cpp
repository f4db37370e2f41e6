#include "mechanisms/ec/EddsaSignature.h"

#include "mechanisms/ec/EcKeyObjects.h"
#include "objects/KeyAccess.h"
#include "crypto/Ed25519.h"

namespace softtoken {

EddsaSignature::EddsaSignature(Object& key, bool verify) : m_key(key) {
    KeyAccess::Loaded([&] {
        if (!EcKeyObjects::Curve(m_key).edwards) throw crypto::CryptoError(CKR_ATTRIBUTE_VALUE_INVALID, "not Ed25519");
        if (verify) EcKeyObjects::Public(m_key);
        else EcKeyObjects::Private(m_key);
    });
}

bool EddsaSignature::AllowsMultiPart() const { return false; }

void EddsaSignature::Update(const unsigned char* data, size_t length) {
    if (length) m_message.insert(m_message.end(), data, data + length);
}

size_t EddsaSignature::ResultLength() const { return crypto::Ed25519::kSignatureLength; }

Bytes EddsaSignature::Final() { return crypto::Ed25519::Sign(EcKeyObjects::Private(m_key), m_message); }

CK_RV EddsaSignature::Verify(const Bytes& signature) {
    return crypto::Ed25519::Verify(EcKeyObjects::Public(m_key), m_message, signature);
}

}  // namespace softtoken
