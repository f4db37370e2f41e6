#pragma once
// Wipes a secret byte vector (a PIN, a key) when it leaves scope, on every path.
#include "store/StoreCipher.h"

namespace softtoken {

class WipeGuard {
public:
    explicit WipeGuard(Bytes& secret) noexcept : m_secret(secret) {}
    ~WipeGuard() { StoreCipher::Wipe(m_secret); }
    WipeGuard(const WipeGuard&) = delete;
    WipeGuard& operator=(const WipeGuard&) = delete;

private:
    Bytes& m_secret;
};

}  // namespace softtoken
