// The attributes of EC and Edwards-curve keys: the curve, the public point, the private value;
// values are checked against the curve, and private keys have their PKCS#8 form.
#include "mechanisms/ec/EcKeyObjects.h"
#include "objects/KeyTypes.h"
#include "objects/WipeGuard.h"
#include "crypto/EcPoint.h"

namespace softtoken {
namespace {

using Default = AttributeDefault;

constexpr AttributeRule kEcPublic[] = {{CKA_EC_PARAMS, RequiredOnCreate, Default::None},
                                       {CKA_EC_POINT, RequiredOnCreate | NotOnGenerate, Default::None}};
constexpr AttributeRule kEcPrivate[] = {{CKA_EC_PARAMS, RequiredOnCreate, Default::None},
                                        {CKA_VALUE, RequiredOnCreate | NotOnGenerate | Sensitive, Default::None}};

// The curve, when the key names one, of the key type's kind.
const crypto::EcCurve* CurveOf(const Object& key) {
    if (!key.Has(CKA_EC_PARAMS)) return nullptr;
    const crypto::EcCurve& curve = EcKeyObjects::Curve(key);
    if (curve.edwards != (key.KeyType() == CKK_EC_EDWARDS))
        throw crypto::CryptoError(CKR_CURVE_NOT_SUPPORTED, "curve of another key type");
    return &curve;
}

// Keeps the point in its DER form whichever form the caller gave, once it is on the curve.
void CheckPublic(Object& key) {
    const crypto::EcCurve* curve = CurveOf(key);
    if (curve == nullptr || !key.Has(CKA_EC_POINT)) return;
    const Bytes point = crypto::EcPoint::Decode(*curve, key.Get(CKA_EC_POINT));
    crypto::EcKeys::LoadPublic(*curve, point);
    key.Set(CKA_EC_POINT, crypto::EcPoint::Encode(point));
}

void CheckPrivate(Object& key) {
    const crypto::EcCurve* curve = CurveOf(key);
    if (curve != nullptr && key.Has(CKA_VALUE)) crypto::EcKeys::CheckPrivate(*curve, key.Get(CKA_VALUE));
}

Bytes ToPkcs8(const Object& key) { return crypto::EcKeys::ToPkcs8(EcKeyObjects::Curve(key), key.Get(CKA_VALUE)); }

// The template's curve, when it names one, must be the wrapped key's.
void FromPkcs8(const Bytes& der, Object& key) {
    crypto::EcKeyComponents ec = crypto::EcKeys::FromPkcs8(der);
    WipeGuard wipe(ec.privateValue);
    const crypto::EcCurve& curve = crypto::EcParams::Parse(ec.params);
    if (curve.edwards != (key.KeyType() == CKK_EC_EDWARDS)) throw Pkcs11Error(CKR_TEMPLATE_INCONSISTENT);
    if (key.Has(CKA_EC_PARAMS)) Require(&EcKeyObjects::Curve(key) == &curve, CKR_TEMPLATE_INCONSISTENT);
    else key.Set(CKA_EC_PARAMS, ec.params);
    key.Set(CKA_VALUE, ec.privateValue);
}

constexpr KeyTypeRow kRows[] = {
    {CKO_PUBLIC_KEY, CKK_EC, kEcPublic, RuleCount(kEcPublic), CheckPublic, nullptr, nullptr},
    {CKO_PRIVATE_KEY, CKK_EC, kEcPrivate, RuleCount(kEcPrivate), CheckPrivate, ToPkcs8, FromPkcs8},
    {CKO_PUBLIC_KEY, CKK_EC_EDWARDS, kEcPublic, RuleCount(kEcPublic), CheckPublic, nullptr, nullptr},
    {CKO_PRIVATE_KEY, CKK_EC_EDWARDS, kEcPrivate, RuleCount(kEcPrivate), CheckPrivate, ToPkcs8, FromPkcs8},
};

}  // namespace

KeyTypeRows EcKeyTypes() { return KeyRowsOf(kRows); }

}  // namespace softtoken
