#include "Digest.h"

#include "GostEngine.h"
#include "OpenSsl.h"

namespace softtoken::crypto {
namespace {

Bytes Compute(const EVP_MD* md, const Bytes& data) {
    if (md == nullptr) ThrowCrypto(CKR_FUNCTION_FAILED, "digest not available");
    if (data.size() > kMaxInputLength) ThrowCrypto(CKR_DATA_LEN_RANGE, "data too long");
    Bytes out(static_cast<size_t>(EVP_MD_get_size(md)));
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), out.data(), &length, md, nullptr) != 1 || length != out.size())
        ThrowCrypto(CKR_FUNCTION_FAILED, "digest failed");
    return out;
}

}  // namespace

Bytes Digest::Sha1(const Bytes& data) {
    auto lock = GostEngine::Lock();
    return Compute(EVP_sha1(), data);
}

Bytes Digest::Sha256(const Bytes& data) {
    auto lock = GostEngine::Lock();
    return Compute(EVP_sha256(), data);
}

Bytes Digest::Gost94(const Bytes& data) {
    auto lock = GostEngine::Lock();
    GostEngine::Get();
    return Compute(EVP_get_digestbyname("md_gost94"), data);
}

}  // namespace softtoken::crypto
