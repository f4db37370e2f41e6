#pragma once
// OpenSSL keys for checking the token's RSA results independently: made from the components
// with OpenSSL's providers (named by OID, so an engine a host registered for RSA never builds
// them), and used through provider contexts only.
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>
#include <vector>

namespace softtoken_test {

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

// An RSA key as PKCS#11 attributes hold it; a public key has only modulus and exponent.
struct RsaParts {
    std::vector<unsigned char> modulus, publicExponent, privateExponent, prime1, prime2, exponent1, exponent2,
        coefficient;
};

inline Pkey OpenSslRsaKey(const RsaParts& parts) {
    std::unique_ptr<OSSL_PARAM_BLD, decltype(&OSSL_PARAM_BLD_free)> builder(OSSL_PARAM_BLD_new(), OSSL_PARAM_BLD_free);
    std::vector<std::unique_ptr<BIGNUM, decltype(&BN_free)>> numbers;
    auto push = [&](const char* name, const std::vector<unsigned char>& value) {
        if (value.empty()) return;
        numbers.emplace_back(BN_bin2bn(value.data(), static_cast<int>(value.size()), nullptr), BN_free);
        OSSL_PARAM_BLD_push_BN(builder.get(), name, numbers.back().get());
    };
    push(OSSL_PKEY_PARAM_RSA_N, parts.modulus);
    push(OSSL_PKEY_PARAM_RSA_E, parts.publicExponent);
    push(OSSL_PKEY_PARAM_RSA_D, parts.privateExponent);
    push(OSSL_PKEY_PARAM_RSA_FACTOR1, parts.prime1);
    push(OSSL_PKEY_PARAM_RSA_FACTOR2, parts.prime2);
    push(OSSL_PKEY_PARAM_RSA_EXPONENT1, parts.exponent1);
    push(OSSL_PKEY_PARAM_RSA_EXPONENT2, parts.exponent2);
    push(OSSL_PKEY_PARAM_RSA_COEFFICIENT1, parts.coefficient);
    std::unique_ptr<OSSL_PARAM, decltype(&OSSL_PARAM_free)> params(OSSL_PARAM_BLD_to_param(builder.get()),
                                                                    OSSL_PARAM_free);
    PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "1.2.840.113549.1.1.1", nullptr));
    EVP_PKEY* key = nullptr;
    EVP_PKEY_fromdata_init(ctx.get());
    EVP_PKEY_fromdata(ctx.get(), &key, parts.privateExponent.empty() ? EVP_PKEY_PUBLIC_KEY : EVP_PKEY_KEYPAIR,
                      params.get());
    return Pkey(key);
}

inline Pkey PublicKeyOf(const std::vector<unsigned char>& modulus, const std::vector<unsigned char>& exponent) {
    RsaParts parts;
    parts.modulus = modulus;
    parts.publicExponent = exponent;
    return OpenSslRsaKey(parts);
}

// A provider context on the key, never an engine's.
inline PkeyCtx ContextOf(EVP_PKEY* key) { return PkeyCtx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr)); }

}  // namespace softtoken_test
