// The attributes of DES (8-byte) and triple DES (24-byte) keys, with CKA_VALUE_LEN and
// CKA_CHECK_VALUE derived from the value. Parity bits are not checked.
#include "mechanisms/SecretKeyValue.h"
#include "mechanisms/des/DesMechanismNames.h"
#include "objects/KeyTypes.h"

namespace softtoken {
namespace {

constexpr AttributeRule kDes[] = {{CKA_CHECK_VALUE, 0, AttributeDefault::None}};

void CheckDes(Object& key) { SecretKeyValue::Check(key, DesMechanismNames::DesEcb); }
void CheckDes3(Object& key) { SecretKeyValue::Check(key, DesMechanismNames::Des3Ecb); }

constexpr KeyTypeRow kRows[] = {
    {CKO_SECRET_KEY, CKK_DES, kDes, RuleCount(kDes), CheckDes, nullptr, nullptr},
    {CKO_SECRET_KEY, CKK_DES3, kDes, RuleCount(kDes), CheckDes3, nullptr, nullptr},
};

}  // namespace

KeyTypeRows DesKeyTypes() { return KeyRowsOf(kRows); }

}  // namespace softtoken
