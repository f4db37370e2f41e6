// The attributes of GOST R 34.10-2001 and GOST 28147-89 keys, with their default parameter sets.
#include "objects/KeyTypes.h"

#include <iterator>

namespace softtoken {
namespace {

using Default = AttributeDefault;

constexpr AttributeRule kGostPublic[] = {{CKA_VALUE, RequiredOnCreate | NotOnGenerate, Default::None},
                                         {CKA_GOSTR3410_PARAMS, RequiredOnCreate, Default::None},
                                         {CKA_GOSTR3411_PARAMS, 0, Default::None}};
constexpr AttributeRule kGostPrivate[] = {{CKA_VALUE, RequiredOnCreate | NotOnGenerate | Sensitive, Default::None},
                                          {CKA_GOSTR3410_PARAMS, RequiredOnCreate, Default::None},
                                          {CKA_GOSTR3411_PARAMS, 0, Default::None}};
constexpr AttributeRule kGost28147[] = {{CKA_GOST28147_PARAMS, 0, Default::None}};

// DER of 1.2.643.2.2.30.1, the GOST R 34.11-94 CryptoPro hash parameters.
const unsigned char kGostR3411CryptoPro[] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1E, 0x01};
// DER of 1.2.643.2.2.31.1, the CryptoPro-A S-box that GOST 28147-89 keys use by default.
const unsigned char kGost28147CryptoProA[] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1F, 0x01};

void DefaultHashParams(Object& key) {
    if (!key.Has(CKA_GOSTR3411_PARAMS))
        key.Set(CKA_GOSTR3411_PARAMS, Bytes(std::begin(kGostR3411CryptoPro), std::end(kGostR3411CryptoPro)));
}

void DefaultSbox(Object& key) {
    if (!key.Has(CKA_GOST28147_PARAMS))
        key.Set(CKA_GOST28147_PARAMS, Bytes(std::begin(kGost28147CryptoProA), std::end(kGost28147CryptoProA)));
}

constexpr KeyTypeRow kRows[] = {
    {CKO_PUBLIC_KEY, CKK_GOSTR3410, kGostPublic, RuleCount(kGostPublic), DefaultHashParams, nullptr, nullptr},
    {CKO_PRIVATE_KEY, CKK_GOSTR3410, kGostPrivate, RuleCount(kGostPrivate), DefaultHashParams, nullptr, nullptr},
    {CKO_SECRET_KEY, CKK_GOST28147, kGost28147, RuleCount(kGost28147), DefaultSbox, nullptr, nullptr},
};

}  // namespace

KeyTypeRows GostKeyTypes() { return KeyRowsOf(kRows); }

}  // namespace softtoken
