// RSA-2048 PSS signing (CKM_SHA256_RSA_PKCS_PSS, salt as long as the digest) through the
// module against hashing and EVP_PKEY_sign with the same key in OpenSSL alone.
#include "bench/BenchSupport.h"
#include "crypto/Rsa.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstdlib>

namespace bench {
namespace {

constexpr int kSignatures = 300;

void SignPssDirectly(EVP_PKEY* key, const Bytes& data, Bytes& signature) {
    unsigned char digest[32];
    unsigned int digestLength = 0;
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr);
    size_t length = signature.size();
    const bool ok = EVP_Digest(data.data(), data.size(), digest, &digestLength, EVP_sha256(), nullptr) == 1 &&
                    EVP_PKEY_sign_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PSS_PADDING) == 1 &&
                    EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256()) == 1 &&
                    EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, RSA_PSS_SALTLEN_DIGEST) == 1 &&
                    EVP_PKEY_sign(ctx, signature.data(), &length, digest, digestLength) == 1;
    EVP_PKEY_CTX_free(ctx);
    if (!ok) std::exit(2);
}

}  // namespace

void RsaBench(CK_SESSION_HANDLE session) {
    crypto::RsaKeyComponents rsa = crypto::Rsa::Generate(2048, {});
    const CK_OBJECT_HANDLE key = CreateRsaPrivateKey(session, rsa);
    EVP_PKEY* openSslKey = OpenSslRsaKey(rsa);
    CK_RSA_PKCS_PSS_PARAMS params = {CKM_SHA256, CKG_MGF1_SHA256, 32};
    CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS_PSS, &params, sizeof params};
    Bytes data(64, 0x5A), signature(256);
    auto throughModule = [&] {
        for (int i = 0; i < kSignatures; ++i) {
            CK_ULONG length = signature.size();
            Check(f->C_SignInit(session, &mechanism, key), "C_SignInit");
            Check(f->C_Sign(session, data.data(), data.size(), signature.data(), &length), "C_Sign");
        }
    };
    auto directly = [&] {
        for (int i = 0; i < kSignatures; ++i) SignPssDirectly(openSslKey, data, signature);
    };
    Compare("RSA-2048 CKM_SHA256_RSA_PKCS_PSS sign", kSignatures, throughModule, directly);
    EVP_PKEY_free(openSslKey);
}

}  // namespace bench
