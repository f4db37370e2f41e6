// AES-256-GCM encryption of 1 MiB through the module (C_EncryptInit + C_Encrypt) against
// the same work with EVP alone.
#include "bench/BenchSupport.h"

#include <openssl/evp.h>

#include <cstdlib>

namespace bench {

void AesBench(CK_SESSION_HANDLE session) {
    Bytes keyValue(32, 0x4B), iv(12, 0x1C), aad(16, 0xAD), data(1024 * 1024, 0x5E), out(data.size() + 16);
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE aes = CKK_AES;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &aes, sizeof aes},
                                 {CKA_ENCRYPT, &yes, 1}, {CKA_VALUE, keyValue.data(), keyValue.size()}};
    CK_OBJECT_HANDLE key = 0;
    Check(f->C_CreateObject(session, attributes, 4, &key), "C_CreateObject");
    CK_GCM_PARAMS params = {iv.data(), iv.size(), iv.size() * 8, aad.data(), aad.size(), 128};
    CK_MECHANISM mechanism = {CKM_AES_GCM, &params, sizeof params};
    const int count = 50;
    auto throughModule = [&] {
        for (int i = 0; i < count; ++i) {
            CK_ULONG length = out.size();
            Check(f->C_EncryptInit(session, &mechanism, key), "C_EncryptInit");
            Check(f->C_Encrypt(session, data.data(), data.size(), out.data(), &length), "C_Encrypt");
        }
    };
    auto directly = [&] {
        for (int i = 0; i < count; ++i) {
            EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
            int length = 0;
            bool ok = EVP_EncryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, keyValue.data(), iv.data()) == 1 &&
                      EVP_EncryptUpdate(ctx, nullptr, &length, aad.data(), static_cast<int>(aad.size())) == 1 &&
                      EVP_EncryptUpdate(ctx, out.data(), &length, data.data(), static_cast<int>(data.size())) == 1 &&
                      EVP_EncryptFinal_ex(ctx, out.data() + length, &length) == 1 &&
                      EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, out.data() + data.size()) == 1;
            EVP_CIPHER_CTX_free(ctx);
            if (!ok) std::exit(4);
        }
    };
    Compare("AES-256-GCM encryption of 1 MiB", count, throughModule, directly);
}

}  // namespace bench
