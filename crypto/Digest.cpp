#include "Digest.h"

#include "GostEngine.h"
#include "OpenSsl.h"
#include "RsaEngine.h"

#include <openssl/engine.h>

namespace crypto {
namespace {

// The engine is named so that no engine the host registered for the digest takes it over.
Bytes Compute(const EVP_MD* md, ENGINE* engine, const Bytes& data) {
    if (md == nullptr) ThrowCrypto(CKR_FUNCTION_FAILED, "digest not available");
    if (data.size() > kMaxInputLength) ThrowCrypto(CKR_DATA_LEN_RANGE, "data too long");
    Bytes out(static_cast<size_t>(EVP_MD_get_size(md)));
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), out.data(), &length, md, engine) != 1 || length != out.size())
        ThrowCrypto(CKR_FUNCTION_FAILED, "digest failed");
    return out;
}

}  // namespace

Bytes Digest::Sha1(const Bytes& data) {
    auto lock = GostEngine::Lock();
    return Compute(EVP_sha1(), RsaEngine::Get(), data);
}

Bytes Digest::Sha256(const Bytes& data) {
    auto lock = GostEngine::Lock();
    return Compute(EVP_sha256(), RsaEngine::Get(), data);
}

Bytes Digest::Gost94(const Bytes& data) {
    auto lock = GostEngine::Lock();
    ENGINE* engine = GostEngine::Get();
    return Compute(ENGINE_get_digest(engine, NID_id_GostR3411_94), engine, data);
}

}  // namespace crypto
