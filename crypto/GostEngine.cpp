#include "GostEngine.h"

#include "OpenSsl.h"

#include <openssl/engine.h>
#include <openssl/err.h>

namespace crypto {
namespace {

std::recursive_mutex g_lock;
std::once_flag g_setUp;
ENGINE* g_engine = nullptr;

// Binds the engine. Loading it registers its own GOST ciphers, digests and key methods (the
// engine does that itself, for GOST identifiers only); the one registration added here is its
// ASN.1 key methods, again GOST identifiers only, without which GOST keys, MAC keys and GOST
// PKCS#12 files cannot be decoded. Nothing is made a default for the host process.
// The functional reference from ENGINE_init is kept for the life of the process.
void SetUp() {
    ENGINE* engine = ENGINE_by_id("gost");
    if (engine == nullptr) {
        ERR_clear_error();
        return;
    }
    if (ENGINE_init(engine) != 1) {
        ENGINE_free(engine);
        ERR_clear_error();
        return;
    }
    if (ENGINE_register_pkey_asn1_meths(engine) != 1) {
        ENGINE_finish(engine);
        ENGINE_free(engine);
        ERR_clear_error();
        return;
    }
    ENGINE_free(engine);  // the structural reference; ENGINE_init's functional one stays
    g_engine = engine;
    ERR_clear_error();
}

}  // namespace

std::unique_lock<std::recursive_mutex> GostEngine::Lock() {
    std::unique_lock<std::recursive_mutex> lock(g_lock);
    std::call_once(g_setUp, SetUp);
    return lock;
}

engine_st* GostEngine::Get() {
    if (g_engine == nullptr) ThrowCrypto(CKR_FUNCTION_FAILED, "the GOST engine is not available");
    return g_engine;
}

}  // namespace crypto
