#pragma once
// OpenSSL's own RSA and SHA-1/SHA-2 code behind a private ENGINE object that is never added
// to OpenSSL's engine list: keys bound to it and operations that name it use that code even in
// a host process that registered another engine for RSA (OpenSSL's pkcs11 engine, say).
struct engine_st;

namespace crypto {

class RsaEngine {
public:
    // The engine, made on first use; CKR_FUNCTION_FAILED when it cannot be made.
    // Call with the crypto layer's lock held.
    static engine_st* Get();
};

}  // namespace crypto
