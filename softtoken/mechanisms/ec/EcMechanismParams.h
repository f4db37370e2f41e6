#pragma once
// The EdDSA mechanism parameter, which p11-kit's header does not declare; the layout and
// values PKCS#11 gives it.
#include <p11-kit/pkcs11.h>

namespace softtoken {

struct EddsaParams {
    CK_BBOOL phFlag;  // true: HashEdDSA (Ed25519ph), refused here
    CK_ULONG ulContextDataLen;
    CK_BYTE_PTR pContextData;
};

}  // namespace softtoken
