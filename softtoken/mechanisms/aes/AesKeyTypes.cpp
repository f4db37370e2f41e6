// The attributes of AES keys: a 16, 24 or 32-byte CKA_VALUE, with CKA_VALUE_LEN and
// CKA_CHECK_VALUE derived from it.
#include "mechanisms/SecretKeyValue.h"
#include "mechanisms/aes/AesMechanismNames.h"
#include "objects/KeyTypes.h"

namespace softtoken {
namespace {

constexpr AttributeRule kAes[] = {{CKA_CHECK_VALUE, 0, AttributeDefault::None}};

void CheckAes(Object& key) { SecretKeyValue::Check(key, AesMechanismNames::Ecb); }

constexpr KeyTypeRow kRows[] = {
    {CKO_SECRET_KEY, CKK_AES, kAes, RuleCount(kAes), CheckAes, nullptr, nullptr},
};

}  // namespace

KeyTypeRows AesKeyTypes() { return KeyRowsOf(kRows); }

}  // namespace softtoken
