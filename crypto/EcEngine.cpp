#include "EcEngine.h"

#include "OpenSsl.h"

#include <openssl/crypto.h>
#include <openssl/engine.h>

namespace crypto {
namespace {

ENGINE* g_engine = nullptr;

// OpenSSL's built-in EC key method, looked up once when the engine is made.
const EVP_PKEY_METHOD* g_ecPkeyMethod = nullptr;

int PkeyMethods(ENGINE*, EVP_PKEY_METHOD** method, const int** nids, int nid) {
    static const int kNids[] = {EVP_PKEY_EC};
    if (method == nullptr) {
        *nids = kNids;
        return 1;
    }
    *method = nid == EVP_PKEY_EC ? const_cast<EVP_PKEY_METHOD*>(g_ecPkeyMethod) : nullptr;
    return *method != nullptr ? 1 : 0;
}

// The functional reference from ENGINE_init is kept until the module is unloaded.
ENGINE* Make() {
    g_ecPkeyMethod = EVP_PKEY_meth_find(EVP_PKEY_EC);
    ENGINE* engine = ENGINE_new();
    if (engine == nullptr || g_ecPkeyMethod == nullptr || ENGINE_set_id(engine, "tokentest-softtoken-ec") != 1 ||
        ENGINE_set_name(engine, "software token EC") != 1 || ENGINE_set_EC(engine, EC_KEY_OpenSSL()) != 1 ||
        ENGINE_set_pkey_meths(engine, PkeyMethods) != 1 || ENGINE_init(engine) != 1) {
        ENGINE_free(engine);
        return nullptr;
    }
    ENGINE_free(engine);  // the structural reference; ENGINE_init's functional one stays
    return engine;
}

// As the RSA engine: released at unload, untouched once OpenSSL has been cleaned up at exit.
struct Release {
    ~Release() {
        if (g_engine == nullptr || OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) != 1) return;
        ENGINE_finish(g_engine);
        g_engine = nullptr;
    }
} g_release;

}  // namespace

engine_st* EcEngine::Get() {
    if (g_engine == nullptr) g_engine = Make();
    if (g_engine == nullptr) ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set up the EC engine");
    return g_engine;
}

}  // namespace crypto
