#pragma once
// OpenSSL's GOST engine, set up once per process, and the one lock every crypto-layer call
// holds: the engine keeps unlocked global state, so its operations must not run in parallel.
#include <mutex>

struct engine_st;

namespace crypto {

class GostEngine {
public:
    // Takes the crypto layer's lock; sets the engine up on first use (quietly: a missing
    // engine only makes the GOST operations fail).
    static std::unique_lock<std::recursive_mutex> Lock();
    // The engine, or a CryptoError (CKR_FUNCTION_FAILED) when it could not be set up.
    // Call with the lock held.
    static engine_st* Get();
};

}  // namespace crypto
