// GOST figures: GOST R 34.10-2001 and 34.10-2012 (256-bit) signing of a 32-byte hash through
// the module against the same signature made with the engine directly.
#include "bench/BenchSupport.h"
#include "crypto/GostEngine.h"
#include "crypto/GostKeys.h"
#include "crypto/GostR3410.h"

#include <openssl/evp.h>

#include <cstdlib>

namespace bench {
namespace {

constexpr int kSignatures = 1000;

CK_OBJECT_HANDLE CreatePrivateKey(CK_SESSION_HANDLE session, const crypto::GostKeyComponents& gost) {
    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE keyType = CKK_GOSTR3410;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE attributes[] = {
        {CKA_CLASS, &keyClass, sizeof keyClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType}, {CKA_SIGN, &yes, 1},
        {CKA_VALUE, const_cast<unsigned char*>(gost.privateValue.data()), gost.privateValue.size()},
        {CKA_GOSTR3410_PARAMS, const_cast<unsigned char*>(gost.paramsOid.data()), gost.paramsOid.size()},
        {CKA_GOSTR3411_PARAMS, const_cast<unsigned char*>(gost.hashParamsOid.data()), gost.hashParamsOid.size()},
    };
    CK_OBJECT_HANDLE key = 0;
    Check(f->C_CreateObject(session, attributes, 6, &key), "C_CreateObject");
    return key;
}

void Signing(CK_SESSION_HANDLE session, crypto::GostKind kind, const char* title) {
    const crypto::GostKeyComponents gost = crypto::GostR3410::Generate(kind, {});
    const CK_OBJECT_HANDLE key = CreatePrivateKey(session, gost);
    Bytes hash(32, 0x5A), signature(64);
    CK_MECHANISM mechanism = {CKM_GOSTR3410, nullptr, 0};
    crypto::EvpPkeyPtr engineKey;
    {
        auto lock = crypto::GostEngine::Lock();
        engineKey = crypto::GostKeys::LoadPrivate(kind, gost.privateValue, gost.paramsOid);
    }
    auto throughModule = [&] {
        for (int i = 0; i < kSignatures; ++i) {
            CK_ULONG length = signature.size();
            Check(f->C_SignInit(session, &mechanism, key), "C_SignInit");
            Check(f->C_Sign(session, hash.data(), hash.size(), signature.data(), &length), "C_Sign");
        }
    };
    auto directly = [&] {
        for (int i = 0; i < kSignatures; ++i) {
            crypto::EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(engineKey.get(), nullptr));
            size_t length = signature.size();
            if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
                EVP_PKEY_sign(ctx.get(), signature.data(), &length, hash.data(), hash.size()) != 1)
                std::exit(2);
        }
    };
    Compare(title, kSignatures, throughModule, directly);
}

}  // namespace

void GostBench(CK_SESSION_HANDLE session) {
    Signing(session, crypto::GostKind::R2001, "GOST R 34.10-2001 CKM_GOSTR3410 sign");
    Signing(session, crypto::GostKind::R2012_256, "GOST R 34.10-2012-256 CKM_GOSTR3410 sign");
}

}  // namespace bench
