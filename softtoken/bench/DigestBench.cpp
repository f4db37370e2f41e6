// SHA-256 and HMAC-SHA-256 over 1 MiB through the module against EVP_Digest and HMAC in
// OpenSSL alone.
#include "bench/BenchSupport.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdlib>

namespace bench {
namespace {

constexpr int kCount = 50;

void Sha256(CK_SESSION_HANDLE session, const Bytes& data) {
    Bytes digest(32);
    CK_MECHANISM mechanism = {CKM_SHA256, nullptr, 0};
    Bytes input = data;
    auto throughModule = [&] {
        for (int i = 0; i < kCount; ++i) {
            CK_ULONG length = digest.size();
            Check(f->C_DigestInit(session, &mechanism), "C_DigestInit");
            Check(f->C_Digest(session, input.data(), input.size(), digest.data(), &length), "C_Digest");
        }
    };
    auto directly = [&] {
        for (int i = 0; i < kCount; ++i) {
            unsigned int length = 0;
            if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1) std::exit(2);
        }
    };
    Compare("SHA-256 over 1 MiB, CKM_SHA256 against EVP_Digest", kCount, throughModule, directly);
}

void HmacSha256(CK_SESSION_HANDLE session, const Bytes& data) {
    Bytes key(32, 0x4B), mac(32);
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE keyType = CKK_GENERIC_SECRET;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                 {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                 {CKA_SIGN, &yes, 1},
                                 {CKA_VALUE, key.data(), key.size()}};
    CK_OBJECT_HANDLE handle = 0;
    Check(f->C_CreateObject(session, attributes, 4, &handle), "C_CreateObject");
    CK_MECHANISM mechanism = {CKM_SHA256_HMAC, nullptr, 0};
    Bytes input = data;
    auto throughModule = [&] {
        for (int i = 0; i < kCount; ++i) {
            CK_ULONG length = mac.size();
            Check(f->C_SignInit(session, &mechanism, handle), "C_SignInit");
            Check(f->C_Sign(session, input.data(), input.size(), mac.data(), &length), "C_Sign");
        }
    };
    auto directly = [&] {
        for (int i = 0; i < kCount; ++i) {
            unsigned int length = 0;
            if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), data.data(), data.size(), mac.data(),
                     &length) == nullptr)
                std::exit(2);
        }
    };
    Compare("HMAC-SHA-256 over 1 MiB, CKM_SHA256_HMAC against HMAC", kCount, throughModule, directly);
}

}  // namespace

void DigestBench(CK_SESSION_HANDLE session) {
    const Bytes data(1024 * 1024, 0xA5);
    Sha256(session, data);
    HmacSha256(session, data);
}

}  // namespace bench
