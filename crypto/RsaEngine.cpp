#include "RsaEngine.h"

#include "OpenSsl.h"

#include <openssl/crypto.h>
#include <openssl/engine.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>

namespace crypto {
namespace {

ENGINE* g_engine = nullptr;

// OpenSSL's built-in RSA key method, looked up once when the engine is made.
const EVP_PKEY_METHOD* g_rsaPkeyMethod = nullptr;

int PkeyMethods(ENGINE*, EVP_PKEY_METHOD** method, const int** nids, int nid) {
    static const int kNids[] = {EVP_PKEY_RSA};
    if (method == nullptr) {
        *nids = kNids;
        return 1;
    }
    *method = nid == EVP_PKEY_RSA ? const_cast<EVP_PKEY_METHOD*>(g_rsaPkeyMethod) : nullptr;
    return *method != nullptr ? 1 : 0;
}

// A digest on OpenSSL's own low-level hash functions (the static EVP_sha256() of OpenSSL 3
// has no state of its own and cannot serve as an engine digest).
template <typename State, int (*Init)(State*), int (*Update)(State*, const void*, size_t),
          int (*Final)(unsigned char*, State*)>
EVP_MD* MakeDigest(int nid, int signatureNid, int size, int blockSize) {
    EVP_MD* md = EVP_MD_meth_new(nid, signatureNid);
    if (md == nullptr || EVP_MD_meth_set_result_size(md, size) != 1 ||
        EVP_MD_meth_set_input_blocksize(md, blockSize) != 1 ||
        EVP_MD_meth_set_app_datasize(md, static_cast<int>(sizeof(State))) != 1 ||
        EVP_MD_meth_set_flags(md, EVP_MD_FLAG_DIGALGID_ABSENT) != 1 ||
        EVP_MD_meth_set_init(md, [](EVP_MD_CTX* ctx) { return Init(static_cast<State*>(EVP_MD_CTX_md_data(ctx))); }) != 1 ||
        EVP_MD_meth_set_update(md, [](EVP_MD_CTX* ctx, const void* data, size_t length) {
            return Update(static_cast<State*>(EVP_MD_CTX_md_data(ctx)), data, length);
        }) != 1 ||
        EVP_MD_meth_set_final(md, [](EVP_MD_CTX* ctx, unsigned char* out) {
            return Final(out, static_cast<State*>(EVP_MD_CTX_md_data(ctx)));
        }) != 1) {
        EVP_MD_meth_free(md);
        return nullptr;
    }
    return md;
}

EVP_MD* g_sha1 = nullptr;
EVP_MD* g_sha256 = nullptr;

int Digests(ENGINE*, const EVP_MD** digest, const int** nids, int nid) {
    static const int kNids[] = {NID_sha1, NID_sha256};
    if (digest == nullptr) {
        *nids = kNids;
        return 2;
    }
    *digest = nid == NID_sha1 ? g_sha1 : nid == NID_sha256 ? g_sha256 : nullptr;
    return *digest != nullptr ? 1 : 0;
}

// The functional reference from ENGINE_init is kept until the module is unloaded.
ENGINE* Make() {
    g_rsaPkeyMethod = EVP_PKEY_meth_find(EVP_PKEY_RSA);
    g_sha1 = MakeDigest<SHA_CTX, SHA1_Init, SHA1_Update, SHA1_Final>(NID_sha1, NID_sha1WithRSAEncryption,
                                                                     SHA_DIGEST_LENGTH, SHA_CBLOCK);
    g_sha256 = MakeDigest<SHA256_CTX, SHA256_Init, SHA256_Update, SHA256_Final>(
        NID_sha256, NID_sha256WithRSAEncryption, SHA256_DIGEST_LENGTH, SHA256_CBLOCK);
    ENGINE* engine = ENGINE_new();
    if (engine == nullptr || g_rsaPkeyMethod == nullptr || g_sha1 == nullptr || g_sha256 == nullptr ||
        ENGINE_set_id(engine, "tokentest-softtoken-rsa") != 1 || ENGINE_set_name(engine, "software token RSA") != 1 ||
        ENGINE_set_RSA(engine, RSA_PKCS1_OpenSSL()) != 1 ||
        ENGINE_set_pkey_meths(engine, PkeyMethods) != 1 || ENGINE_set_digests(engine, Digests) != 1 ||
        ENGINE_init(engine) != 1) {
        ENGINE_free(engine);
        EVP_MD_meth_free(g_sha1);
        EVP_MD_meth_free(g_sha256);
        g_sha1 = g_sha256 = nullptr;
        return nullptr;
    }
    ENGINE_free(engine);  // the structural reference; ENGINE_init's functional one stays
    return engine;
}

// Frees the engine and its digests when the module is unloaded or the process exits. At exit
// OpenSSL may have been cleaned up already (its exit handler ran first; OPENSSL_init_crypto
// answers 0 from then on): then nothing is touched, and the memory, still referenced from
// here, goes with the process.
struct Release {
    ~Release() {
        if (g_engine == nullptr || OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) != 1) return;
        ENGINE_finish(g_engine);
        EVP_MD_meth_free(g_sha1);
        EVP_MD_meth_free(g_sha256);
        g_engine = nullptr;
    }
} g_release;

}  // namespace

engine_st* RsaEngine::Get() {
    if (g_engine == nullptr) g_engine = Make();
    if (g_engine == nullptr) ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set up the RSA engine");
    return g_engine;
}

}  // namespace crypto
