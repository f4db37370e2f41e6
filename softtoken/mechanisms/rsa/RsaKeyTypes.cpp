// The attributes of RSA keys beyond those of every public or private key.
#include "objects/KeyTypes.h"

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

constexpr KeyTypeRow kRows[] = {
    {CKO_PUBLIC_KEY, CKK_RSA, kRsaPublic, RuleCount(kRsaPublic), nullptr, nullptr, nullptr},
    {CKO_PRIVATE_KEY, CKK_RSA, kRsaPrivate, RuleCount(kRsaPrivate), nullptr, nullptr, nullptr},
};

}  // namespace

KeyTypeRows RsaKeyTypes() { return KeyRowsOf(kRows); }

}  // namespace softtoken
