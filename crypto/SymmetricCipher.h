#pragma once
// A block cipher in one mode (ECB, CBC, CTR, GCM, key wrap) over OpenSSL, fed in pieces:
// each Update gives what the mode can release so far, Final the rest.
#include "Bytes.h"
#include "CryptoError.h"

#include <memory>
#include <string>

namespace crypto {

class SymmetricCipher {
public:
    // Longer inputs to one Update are refused (no token's data comes near).
    static constexpr size_t kMaxInput = 16u * 1024 * 1024;

    // name: OpenSSL's cipher name ("AES-128-CBC", "DES-EDE3-ECB", "id-aes256-wrap-pad", ...),
    // single DES included. A key of the wrong length: CKR_KEY_SIZE_RANGE; an IV of the wrong
    // length: CKR_MECHANISM_PARAM_INVALID (GCM takes any IV of 1 to 256 bytes).
    SymmetricCipher(const std::string& name, const Bytes& key, const Bytes& iv, bool encrypt, bool padding);
    ~SymmetricCipher();
    SymmetricCipher(SymmetricCipher&&) noexcept;
    SymmetricCipher& operator=(SymmetricCipher&&) noexcept;

    size_t BlockSize() const;
    // GCM: data that is authenticated, not encrypted; before the first Update.
    void AddAuthenticated(const Bytes& data);
    Bytes Update(const unsigned char* data, size_t length);
    // Failed decryption (bad padding, wrong tag, failed unwrap): CKR_ENCRYPTED_DATA_INVALID.
    Bytes Final();
    // GCM: the tag of an encryption after Final; the tag a decryption expects before Final.
    Bytes Tag(size_t length);
    void ExpectTag(const Bytes& tag);

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

}  // namespace crypto
