#pragma once
// OpenSSL's own EC key and ECDSA/ECDH code behind a private ENGINE object that is never added
// to OpenSSL's engine list: EC keys bound to it and contexts that name it use that code even
// in a host process that made another engine the default for EC (OpenSSL's pkcs11 engine,
// say), which takes over every EC context, provider keys' included.
struct engine_st;

namespace crypto {

class EcEngine {
public:
    // The engine, made on first use; CKR_FUNCTION_FAILED when it cannot be made.
    // Call with the crypto layer's lock held.
    static engine_st* Get();
};

}  // namespace crypto
