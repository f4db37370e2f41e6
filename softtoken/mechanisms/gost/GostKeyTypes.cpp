// The attributes of GOST R 34.10-2001/2012 and GOST 28147-89 keys, with their default parameter
// sets, and the PKCS#8 form of GOST R 34.10 private keys for wrapping.
#include "objects/KeyTypes.h"

#include "mechanisms/gost/GostConstants.h"
#include "objects/KeyAccess.h"
#include "objects/WipeGuard.h"
#include "crypto/GostR3410.h"

#include <iterator>

namespace softtoken {
namespace {

using Default = AttributeDefault;
using crypto::GostKind;

constexpr AttributeRule kGostPublic[] = {{CKA_VALUE, RequiredOnCreate | NotOnGenerate, Default::None},
                                         {CKA_GOSTR3410_PARAMS, RequiredOnCreate, Default::None},
                                         {CKA_GOSTR3411_PARAMS, 0, Default::None}};
constexpr AttributeRule kGostPrivate[] = {{CKA_VALUE, RequiredOnCreate | NotOnGenerate | Sensitive, Default::None},
                                          {CKA_GOSTR3410_PARAMS, RequiredOnCreate, Default::None},
                                          {CKA_GOSTR3411_PARAMS, 0, Default::None}};
constexpr AttributeRule kGost28147[] = {{CKA_GOST28147_PARAMS, 0, Default::None}};

// DER of 1.2.643.2.2.31.1, the CryptoPro-A S-box that GOST 28147-89 keys use by default.
const unsigned char kGost28147CryptoProA[] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1F, 0x01};

// Keys without hash parameters hash as their kind does: GOST R 34.11-94 with the CryptoPro
// parameters for 2001 keys, GOST R 34.11-2012 for keys on a parameter set only 2012 has.
void DefaultHashParams(Object& key) {
    if (key.Has(CKA_GOSTR3411_PARAMS)) return;
    const GostKind kind = crypto::GostR3410::KindOf(false, key.Get(CKA_GOSTR3410_PARAMS), {});
    key.Set(CKA_GOSTR3411_PARAMS, crypto::GostR3410::HashParamsOid(kind));
}

// A 512-bit key: a 512-bit parameter set, the 512-bit hash, values of its lengths.
void Check512(Object& key) {
    Require(crypto::GostR3410::IsKnownParamSet(GostKind::R2012_512, key.Get(CKA_GOSTR3410_PARAMS)),
            CKR_ATTRIBUTE_VALUE_INVALID);
    const Bytes hash512 = crypto::GostR3410::HashParamsOid(GostKind::R2012_512);
    if (!key.Has(CKA_GOSTR3411_PARAMS)) key.Set(CKA_GOSTR3411_PARAMS, hash512);
    Require(key.Get(CKA_GOSTR3411_PARAMS) == hash512, CKR_ATTRIBUTE_VALUE_INVALID);
    const size_t length = (key.Class() == CKO_PRIVATE_KEY ? 1 : 2) * crypto::GostR3410::HashLength(GostKind::R2012_512);
    if (key.Has(CKA_VALUE)) Require(key.Get(CKA_VALUE).size() == length, CKR_ATTRIBUTE_VALUE_INVALID);
}

void DefaultSbox(Object& key) {
    if (!key.Has(CKA_GOST28147_PARAMS))
        key.Set(CKA_GOST28147_PARAMS, Bytes(std::begin(kGost28147CryptoProA), std::end(kGost28147CryptoProA)));
}

Bytes ToPkcs8(const Object& key) {
    const auto loaded = crypto::GostR3410::LoadPrivate(KeyAccess::GostKindOf(key), key.Get(CKA_VALUE),
                                                       key.Get(CKA_GOSTR3410_PARAMS));
    return crypto::GostR3410::ToPkcs8(loaded);
}

// The wrapped key must be of the key type the template names and on the parameter set it names.
void FromPkcs8(const Bytes& der, Object& key) {
    GostKind kind = GostKind::R2001;
    crypto::GostKeyComponents gost = crypto::GostR3410::FromPkcs8(der, kind);
    WipeGuard wipe(gost.privateValue);
    Require((kind == GostKind::R2012_512) == (key.KeyType() == CKK_GOSTR3410_512), CKR_TEMPLATE_INCONSISTENT);
    if (key.Has(CKA_GOSTR3410_PARAMS)) Require(key.Get(CKA_GOSTR3410_PARAMS) == gost.paramsOid, CKR_TEMPLATE_INCONSISTENT);
    key.Set(CKA_VALUE, gost.privateValue);
    key.Set(CKA_GOSTR3410_PARAMS, gost.paramsOid);
    key.Set(CKA_GOSTR3411_PARAMS, gost.hashParamsOid);
}

constexpr KeyTypeRow kRows[] = {
    {CKO_PUBLIC_KEY, CKK_GOSTR3410, kGostPublic, RuleCount(kGostPublic), DefaultHashParams, nullptr, nullptr},
    {CKO_PRIVATE_KEY, CKK_GOSTR3410, kGostPrivate, RuleCount(kGostPrivate), DefaultHashParams, ToPkcs8, FromPkcs8},
    {CKO_PUBLIC_KEY, CKK_GOSTR3410_512, kGostPublic, RuleCount(kGostPublic), Check512, nullptr, nullptr},
    {CKO_PRIVATE_KEY, CKK_GOSTR3410_512, kGostPrivate, RuleCount(kGostPrivate), Check512, ToPkcs8, FromPkcs8},
    {CKO_SECRET_KEY, CKK_GOST28147, kGost28147, RuleCount(kGost28147), DefaultSbox, nullptr, nullptr},
};

}  // namespace

KeyTypeRows GostKeyTypes() { return KeyRowsOf(kRows); }

}  // namespace softtoken
