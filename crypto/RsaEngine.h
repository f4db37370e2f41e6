#pragma once
// OpenSSL's own RSA and SHA-1/SHA-2 code behind a private ENGINE object that is never added
// to OpenSSL's engine list: keys bound to it and operations that name it use that code even in
// a host process that registered another engine for RSA (OpenSSL's pkcs11 engine, say).
#include "CryptoError.h"

struct engine_st;
struct evp_md_st;

namespace crypto {

class RsaEngine {
public:
    // The engine, made on first use; CKR_FUNCTION_FAILED when it cannot be made.
    // Call with the crypto layer's lock held.
    static engine_st* Get();
    // The engine's digest for CKM_SHA_1, CKM_SHA224, CKM_SHA256, CKM_SHA384 or CKM_SHA512;
    // null for any other mechanism. Call with the crypto layer's lock held.
    static const evp_md_st* Digest(CK_MECHANISM_TYPE hash);
};

}  // namespace crypto
