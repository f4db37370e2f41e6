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

// The SHA family, in the order of kDigestNids.
constexpr int kDigestNids[] = {NID_sha1, NID_sha224, NID_sha256, NID_sha384, NID_sha512};
constexpr int kDigestCount = static_cast<int>(sizeof kDigestNids / sizeof kDigestNids[0]);
EVP_MD* g_digests[kDigestCount] = {};

int Digests(ENGINE*, const EVP_MD** digest, const int** nids, int nid) {
    if (digest == nullptr) {
        *nids = kDigestNids;
        return kDigestCount;
    }
    *digest = nullptr;
    for (int i = 0; i < kDigestCount; ++i)
        if (kDigestNids[i] == nid) *digest = g_digests[i];
    return *digest != nullptr ? 1 : 0;
}

void FreeDigests() {
    for (EVP_MD*& md : g_digests) {
        EVP_MD_meth_free(md);
        md = nullptr;
    }
}

bool MakeDigests() {
    g_digests[0] = MakeDigest<SHA_CTX, SHA1_Init, SHA1_Update, SHA1_Final>(NID_sha1, NID_sha1WithRSAEncryption,
                                                                            SHA_DIGEST_LENGTH, SHA_CBLOCK);
    g_digests[1] = MakeDigest<SHA256_CTX, SHA224_Init, SHA224_Update, SHA224_Final>(
        NID_sha224, NID_sha224WithRSAEncryption, SHA224_DIGEST_LENGTH, SHA256_CBLOCK);
    g_digests[2] = MakeDigest<SHA256_CTX, SHA256_Init, SHA256_Update, SHA256_Final>(
        NID_sha256, NID_sha256WithRSAEncryption, SHA256_DIGEST_LENGTH, SHA256_CBLOCK);
    g_digests[3] = MakeDigest<SHA512_CTX, SHA384_Init, SHA384_Update, SHA384_Final>(
        NID_sha384, NID_sha384WithRSAEncryption, SHA384_DIGEST_LENGTH, SHA512_CBLOCK);
    g_digests[4] = MakeDigest<SHA512_CTX, SHA512_Init, SHA512_Update, SHA512_Final>(
        NID_sha512, NID_sha512WithRSAEncryption, SHA512_DIGEST_LENGTH, SHA512_CBLOCK);
    for (const EVP_MD* md : g_digests)
        if (md == nullptr) return false;
    return true;
}

// The functional reference from ENGINE_init is kept until the module is unloaded.
ENGINE* Make() {
    g_rsaPkeyMethod = EVP_PKEY_meth_find(EVP_PKEY_RSA);
    const bool digestsMade = MakeDigests();
    ENGINE* engine = ENGINE_new();
    if (engine == nullptr || g_rsaPkeyMethod == nullptr || !digestsMade ||
        ENGINE_set_id(engine, "tokentest-softtoken-rsa") != 1 || ENGINE_set_name(engine, "software token RSA") != 1 ||
        ENGINE_set_RSA(engine, RSA_PKCS1_OpenSSL()) != 1 ||
        ENGINE_set_pkey_meths(engine, PkeyMethods) != 1 || ENGINE_set_digests(engine, Digests) != 1 ||
        ENGINE_init(engine) != 1) {
        ENGINE_free(engine);
        FreeDigests();
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
        FreeDigests();
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
