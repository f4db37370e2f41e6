#pragma once
// What AES and DES keys share: the check of a key value's length with its derived
// attributes (CKA_VALUE_LEN, and CKA_CHECK_VALUE: the first three bytes of a zero block
// encrypted in ECB mode), and the generation of a random value of a given length.
#include "objects/Object.h"

#include <p11-kit/pkcs11.h>

#include <string>

namespace softtoken {

class SecretKeyValue {
public:
    // The ECB cipher of a key of this length; empty when no key has that length.
    using EcbName = std::string (*)(size_t keyLength);

    // Without CKA_VALUE (a template being generated) nothing is checked. A value of a length
    // EcbName refuses, a CKA_VALUE_LEN or CKA_CHECK_VALUE that does not match it:
    // CKR_ATTRIBUTE_VALUE_INVALID.
    static void Check(Object& key, EcbName ecbName);
    // A generated key of keyType: the template's CKA_VALUE_LEN, if any, must be length.
    static Object Generate(const CK_MECHANISM& mechanism, Object::Map keyTemplate, CK_KEY_TYPE keyType,
                           size_t length, EcbName ecbName, bool desParity);
};

}  // namespace softtoken
