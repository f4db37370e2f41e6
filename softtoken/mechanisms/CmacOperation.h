#pragma once
// CMAC under a secret key (AES or triple DES), full length or truncated to the length the
// _GENERAL mechanisms name.
#include "mechanisms/SignOperation.h"

#include "crypto/Cmac.h"

#include <string>

namespace softtoken {

class CmacOperation : public SignOperation {
public:
    // resultLength: 0 for the cipher's block size.
    CmacOperation(const std::string& cbcName, const Bytes& key, size_t resultLength);

    void Update(const unsigned char* data, size_t length) override;
    size_t ResultLength() const override { return m_resultLength; }
    Bytes Final() override;

private:
    crypto::Cmac m_mac;
    size_t m_resultLength;
};

}  // namespace softtoken
