#pragma once
// An opaque OpenSSL key loaded once and reused for many operations; movable, not copyable.
// Tag keeps the kinds apart (an RSA public key is not a GOST private key). Freeing it clears
// the private values OpenSSL held.
#include <memory>

struct evp_pkey_st;

namespace crypto {

struct LoadedKeyDeleter {
    void operator()(evp_pkey_st* key) const noexcept;
};

template <typename Tag>
class LoadedKey {
public:
    explicit LoadedKey(evp_pkey_st* key) : m_key(key) {}
    evp_pkey_st* Get() const { return m_key.get(); }

private:
    std::unique_ptr<evp_pkey_st, LoadedKeyDeleter> m_key;
};

}  // namespace crypto
