#pragma once
// Reads an RSA or GOST R 34.10-2001 public key from a token's public key object.
#include "crypto/KeyMaterial.h"

#include <p11-kit/pkcs11.h>

class CPublicKeyReader {
public:
    // Not a public key object or an unusable value: CKR_KEY_HANDLE_INVALID; another key type:
    // CKR_KEY_TYPE_INCONSISTENT; a failing C_GetAttributeValue throws CPKCSException.
    static crypto::KeyMaterial Read(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session,
                                               CK_OBJECT_HANDLE publicKey);
};
