#include "Ecdh.h"

#include "EcEngine.h"
#include "GostEngine.h"
#include "OpenSsl.h"

#include <openssl/core_names.h>
#include <openssl/kdf.h>

namespace crypto {
namespace {

using KdfPtr = OpenSslPtr<EVP_KDF, EVP_KDF_free>;
using KdfCtxPtr = OpenSslPtr<EVP_KDF_CTX, EVP_KDF_CTX_free>;

}  // namespace

Bytes Ecdh::SharedSecret(const EcKeys::PrivateKey& key, const EcKeys::PublicKey& peer) {
    auto lock = GostEngine::Lock();
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.Get(), EcEngine::Get()));
    size_t length = 0;
    if (!ctx || EVP_PKEY_derive_init(ctx.get()) != 1 || EVP_PKEY_derive_set_peer(ctx.get(), peer.Get()) != 1 ||
        EVP_PKEY_derive(ctx.get(), nullptr, &length) != 1)
        ThrowCrypto(CKR_MECHANISM_PARAM_INVALID, "ECDH with this public point failed");
    Bytes secret(length);
    if (EVP_PKEY_derive(ctx.get(), secret.data(), &length) != 1) ThrowCrypto(CKR_FUNCTION_FAILED, "ECDH failed");
    secret.resize(length);
    return secret;
}

Bytes Ecdh::X963Kdf(const std::string& digestName, const Bytes& secret, const Bytes& sharedInfo, size_t length) {
    KdfPtr kdf(EVP_KDF_fetch(nullptr, "X963KDF", nullptr));
    KdfCtxPtr ctx(kdf ? EVP_KDF_CTX_new(kdf.get()) : nullptr);
    if (!ctx) ThrowCrypto(CKR_FUNCTION_FAILED, "X9.63 KDF unavailable");
    std::string digest = digestName;
    Bytes key = secret, info = sharedInfo;
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest.data(), 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, key.data(), key.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, info.data(), info.size()),
        OSSL_PARAM_construct_end(),
    };
    Bytes out(length);
    const int done = EVP_KDF_derive(ctx.get(), out.data(), out.size(), params);
    OPENSSL_cleanse(key.data(), key.size());
    if (done != 1) ThrowCrypto(CKR_FUNCTION_FAILED, "X9.63 KDF failed");
    return out;
}

}  // namespace crypto
