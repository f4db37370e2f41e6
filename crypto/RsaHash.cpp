#include "RsaHash.h"

#include "OpenSsl.h"

namespace crypto {
namespace {

struct HashName {
    CK_MECHANISM_TYPE hash;
    const char* name;
    size_t length;
};

constexpr HashName kHashes[] = {{CKM_SHA_1, "SHA1", 20},
                                {CKM_SHA224, "SHA224", 28},
                                {CKM_SHA256, "SHA256", 32},
                                {CKM_SHA384, "SHA384", 48},
                                {CKM_SHA512, "SHA512", 64}};

const HashName* Find(CK_MECHANISM_TYPE hash) {
    for (const HashName& known : kHashes)
        if (known.hash == hash) return &known;
    return nullptr;
}

const char* KnownName(CK_MECHANISM_TYPE hash) {
    const char* name = RsaHash::Name(hash);
    if (name == nullptr) ThrowCrypto(CKR_MECHANISM_INVALID, "no such hash for RSA");
    return name;
}

}  // namespace

RsaHash::RsaHash(CK_MECHANISM_TYPE hash) : m_digest(KnownName(hash)) {}

void RsaHash::Update(const unsigned char* data, size_t length) { m_digest.Update(data, length); }

Bytes RsaHash::Final() { return m_digest.Final(); }

size_t RsaHash::Length(CK_MECHANISM_TYPE hash) {
    const HashName* known = Find(hash);
    return known ? known->length : 0;
}

const char* RsaHash::Name(CK_MECHANISM_TYPE hash) {
    const HashName* known = Find(hash);
    return known ? known->name : nullptr;
}

Bytes RsaHash::Of(CK_MECHANISM_TYPE hash, const Bytes& data) {
    if (data.size() > kMaxInputLength) ThrowCrypto(CKR_DATA_LEN_RANGE, "data too long");
    RsaHash hasher(hash);
    hasher.Update(data.data(), data.size());
    return hasher.Final();
}

}  // namespace crypto
