#include "mechanisms/gost/GostR3410Signature.h"

#include "mechanisms/gost/GostConstants.h"
#include "objects/KeyAccess.h"
#include "crypto/GostR3410.h"

namespace softtoken {
namespace {

using crypto::GostKind;

// The kind of key a mechanism signs with, and the hash it makes first (none for the raw ones).
struct Pairing {
    CK_MECHANISM_TYPE mechanism;
    const char* digest;  // the engine's digest name; null: the caller passes the hash
    GostKind kinds[2];
};

constexpr Pairing kPairings[] = {
    {CKM_GOSTR3410, nullptr, {GostKind::R2001, GostKind::R2012_256}},
    {CKM_GOSTR3410_512, nullptr, {GostKind::R2012_512, GostKind::R2012_512}},
    {CKM_GOSTR3410_WITH_GOSTR3411, "md_gost94", {GostKind::R2001, GostKind::R2001}},
    {CKM_GOSTR3410_WITH_GOSTR3411_12_256, "md_gost12_256",
     {GostKind::R2012_256, GostKind::R2012_256}},
    {CKM_GOSTR3410_WITH_GOSTR3411_12_512, "md_gost12_512",
     {GostKind::R2012_512, GostKind::R2012_512}},
};

const Pairing& PairingOf(CK_MECHANISM_TYPE mechanism) {
    for (const Pairing& pairing : kPairings)
        if (pairing.mechanism == mechanism) return pairing;
    throw Pkcs11Error(CKR_MECHANISM_INVALID);
}

}  // namespace

GostR3410Signature::GostR3410Signature(CK_MECHANISM_TYPE mechanism, Object& key, bool verify)
    : m_key(key), m_kind(KeyAccess::GostKindOf(key)) {
    const Pairing& pairing = PairingOf(mechanism);
    Require(m_kind == pairing.kinds[0] || m_kind == pairing.kinds[1], CKR_KEY_TYPE_INCONSISTENT);
    KeyAccess::Loaded([&] {
        if (verify) KeyAccess::GostPublic(m_key);
        else KeyAccess::GostPrivate(m_key);
    });
    if (pairing.digest) m_digest = std::make_unique<crypto::MessageDigest>(pairing.digest);
}

bool GostR3410Signature::AllowsMultiPart() const { return m_digest != nullptr; }

void GostR3410Signature::Update(const unsigned char* data, size_t length) {
    if (m_digest) {
        m_digest->Update(data, length);
        return;
    }
    // One piece: anything longer than a hash is refused at the end, without keeping it.
    if (m_hash.size() + length > crypto::GostR3410::HashLength(m_kind)) {
        m_hash.assign(crypto::GostR3410::HashLength(m_kind) + 1, 0);
        return;
    }
    if (length) m_hash.insert(m_hash.end(), data, data + length);
}

size_t GostR3410Signature::ResultLength() const { return crypto::GostR3410::SignatureLength(m_kind); }

Bytes GostR3410Signature::Hash() {
    if (m_digest) return m_digest->Final();
    Require(m_hash.size() == crypto::GostR3410::HashLength(m_kind), CKR_DATA_LEN_RANGE);
    return m_hash;
}

Bytes GostR3410Signature::Final() { return crypto::GostR3410::Sign(KeyAccess::GostPrivate(m_key), Hash()); }

CK_RV GostR3410Signature::Verify(const Bytes& signature) {
    return crypto::GostR3410::Verify(KeyAccess::GostPublic(m_key), Hash(), signature);
}

}  // namespace softtoken
