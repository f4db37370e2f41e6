// The attributes of RSA keys beyond those of every public or private key, their checks, and
// the PKCS#8 form of private keys for wrapping.
#include "objects/KeyAccess.h"
#include "objects/KeyFactory.h"
#include "objects/KeyTypes.h"
#include "crypto/Rsa.h"

namespace softtoken {
namespace {

using Default = AttributeDefault;

constexpr AttributeRule kRsaPublic[] = {{CKA_MODULUS, RequiredOnCreate | NotOnGenerate, Default::None},
                                        {CKA_MODULUS_BITS, NotOnCreate, Default::None},
                                        {CKA_PUBLIC_EXPONENT, RequiredOnCreate, Default::None}};

constexpr AttributeRule kRsaPrivate[] = {
    {CKA_MODULUS, RequiredOnCreate | NotOnGenerate, Default::None},
    {CKA_PUBLIC_EXPONENT, NotOnGenerate, Default::Empty},
    {CKA_PRIVATE_EXPONENT, RequiredOnCreate | NotOnGenerate | Sensitive, Default::None},
    {CKA_PRIME_1, NotOnGenerate | Sensitive, Default::Empty},
    {CKA_PRIME_2, NotOnGenerate | Sensitive, Default::Empty},
    {CKA_EXPONENT_1, NotOnGenerate | Sensitive, Default::Empty},
    {CKA_EXPONENT_2, NotOnGenerate | Sensitive, Default::Empty},
    {CKA_COEFFICIENT, NotOnGenerate | Sensitive, Default::Empty}};

// The private values of a copy of a key, cleared on every path.
class Components {
public:
    explicit Components(crypto::RsaKeyComponents value) : m_value(std::move(value)) {}
    ~Components() { KeyFactory::WipeRsa(m_value); }
    Components(const Components&) = delete;
    Components& operator=(const Components&) = delete;
    const crypto::RsaKeyComponents& Get() const { return m_value; }

private:
    crypto::RsaKeyComponents m_value;
};

// A key being generated has no modulus yet when its template is checked.
void CheckPublic(Object& key) {
    if (!key.Has(CKA_MODULUS)) return;
    key.SetUlong(CKA_MODULUS_BITS, crypto::Rsa::CheckPublic(key.Get(CKA_MODULUS), key.Get(CKA_PUBLIC_EXPONENT)));
}

void CheckPrivate(Object& key) {
    if (!key.Has(CKA_MODULUS)) return;
    crypto::Rsa::CheckPrivate(Components(KeyAccess::RsaComponents(key)).Get());
}

Bytes ToPkcs8(const Object& key) { return crypto::Rsa::ToPkcs8(Components(KeyAccess::RsaComponents(key)).Get()); }

// The values come from the PKCS#8 form only (a template may not name them: NotOnGenerate).
void FromPkcs8(const Bytes& der, Object& key) {
    KeyFactory::FillRsaPrivate(key, Components(crypto::Rsa::FromPkcs8(der)).Get());
}

constexpr KeyTypeRow kRows[] = {
    {CKO_PUBLIC_KEY, CKK_RSA, kRsaPublic, RuleCount(kRsaPublic), CheckPublic, nullptr, nullptr},
    {CKO_PRIVATE_KEY, CKK_RSA, kRsaPrivate, RuleCount(kRsaPrivate), CheckPrivate, ToPkcs8, FromPkcs8},
};

}  // namespace

KeyTypeRows RsaKeyTypes() { return KeyRowsOf(kRows); }

}  // namespace softtoken
