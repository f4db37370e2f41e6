#pragma once
// A digest on a session over any OpenSSL digest, fed to OpenSSL part by part as it comes.
// Other families reuse it for their digests: DigestOperation("md_gost12_256"), or from an
// EVP_MD and the engine that runs it.
#include "mechanisms/SignOperation.h"

#include "crypto/MessageDigest.h"

#include <string>

namespace softtoken {

class DigestOperation : public SignOperation {
public:
    // A name MessageDigest::Find knows.
    explicit DigestOperation(const std::string& digestName);
    DigestOperation(const evp_md_st* md, engine_st* engine);

    void Update(const unsigned char* data, size_t length) override;
    size_t ResultLength() const override;
    Bytes Final() override;

private:
    crypto::MessageDigest m_digest;
};

}  // namespace softtoken
