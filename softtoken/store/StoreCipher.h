#pragma once
// The store's own cryptography: random bytes, the slow PIN derivation, AES-256-GCM sealing
// of values at rest, and wiping of secrets. Kept apart from the mechanisms' crypto layer.
#include "module/Pkcs11Error.h"

#include <optional>
#include <string>

namespace softtoken {

class StoreCipher {
public:
    static constexpr size_t KeySize = 32;

    static Bytes Random(size_t count);
    // PBKDF2-HMAC-SHA256 of the PIN: 32 bytes from which the verifier and the wrapping key come.
    static Bytes DerivePinSecret(const Bytes& pin, const Bytes& salt, unsigned iterations);
    // A labelled SHA-256 of a secret, so one derivation serves several purposes.
    static Bytes Subkey(const Bytes& secret, const std::string& purpose);
    static Bytes Sha1(const Bytes& data);
    static bool EqualConstantTime(const Bytes& a, const Bytes& b);
    // iv || ciphertext || tag; the additional data binds the blob to its place in the store.
    static Bytes Seal(const Bytes& key, const Bytes& plain, const Bytes& context);
    static std::optional<Bytes> Open(const Bytes& key, const Bytes& sealed, const Bytes& context);
    static void Wipe(Bytes& secret) noexcept;
};

}  // namespace softtoken
