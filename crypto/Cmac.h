#pragma once
// CMAC (SP 800-38B) over a block cipher in OpenSSL, fed in pieces.
#include "Bytes.h"
#include "CryptoError.h"

#include <memory>
#include <string>

namespace crypto {

class Cmac {
public:
    // cbcName: the cipher in CBC mode ("AES-128-CBC", "DES-EDE3-CBC"). A key of the wrong
    // length: CKR_KEY_SIZE_RANGE.
    Cmac(const std::string& cbcName, const Bytes& key);
    ~Cmac();
    Cmac(Cmac&&) noexcept;
    Cmac& operator=(Cmac&&) noexcept;

    size_t Length() const;
    void Update(const unsigned char* data, size_t length);
    Bytes Final();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

}  // namespace crypto
