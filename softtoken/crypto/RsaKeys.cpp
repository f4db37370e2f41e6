#include "RsaKeys.h"

#include <openssl/core_names.h>
#include <openssl/param_build.h>

#include <algorithm>

namespace softtoken::crypto {
namespace {

using ParamBuildPtr = OpenSslPtr<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>;
using ParamsPtr = OpenSslPtr<OSSL_PARAM, OSSL_PARAM_free>;

bool IsZero(const Bytes& value) {
    return std::all_of(value.begin(), value.end(), [](unsigned char b) { return b == 0; });
}

// The builder keeps pointers to the numbers until it is turned into parameters.
class KeyParams {
public:
    KeyParams() : m_build(OSSL_PARAM_BLD_new()) {
        if (!m_build) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate RSA parameters");
    }
    void Add(const char* name, const Bytes& value) {
        m_numbers.push_back(BytesToBignum(value));
        if (OSSL_PARAM_BLD_push_BN(m_build.get(), name, m_numbers.back().get()) != 1)
            ThrowCrypto(CKR_HOST_MEMORY, "cannot build RSA parameters");
    }
    EvpPkeyPtr Make(int selection) {
        ParamsPtr params(OSSL_PARAM_BLD_to_param(m_build.get()));
        OpenSslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
        EVP_PKEY* key = nullptr;
        if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
            EVP_PKEY_fromdata(ctx.get(), &key, selection, params.get()) != 1)
            ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "the RSA components do not form a key");
        return EvpPkeyPtr(key);
    }

private:
    ParamBuildPtr m_build;
    std::vector<BignumPtr> m_numbers;
};

void RequireNonZero(const Bytes& value, const char* what) {
    if (IsZero(value)) ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, std::string("the RSA key has no ") + what);
}

Bytes Component(const EVP_PKEY* key, const char* name) {
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) {
        ERR_clear_error();
        return {};
    }
    BignumPtr value(raw);
    return BignumToBytes(value.get());
}

}  // namespace

EvpPkeyPtr RsaKeys::LoadPrivate(const RsaKeyComponents& c) {
    RequireNonZero(c.modulus, "modulus");
    RequireNonZero(c.publicExponent, "public exponent");
    RequireNonZero(c.privateExponent, "private exponent");
    KeyParams params;
    params.Add(OSSL_PKEY_PARAM_RSA_N, c.modulus);
    params.Add(OSSL_PKEY_PARAM_RSA_E, c.publicExponent);
    params.Add(OSSL_PKEY_PARAM_RSA_D, c.privateExponent);
    const Bytes* crt[] = {&c.prime1, &c.prime2, &c.exponent1, &c.exponent2, &c.coefficient};
    if (std::none_of(std::begin(crt), std::end(crt), [](const Bytes* v) { return IsZero(*v); })) {
        params.Add(OSSL_PKEY_PARAM_RSA_FACTOR1, c.prime1);
        params.Add(OSSL_PKEY_PARAM_RSA_FACTOR2, c.prime2);
        params.Add(OSSL_PKEY_PARAM_RSA_EXPONENT1, c.exponent1);
        params.Add(OSSL_PKEY_PARAM_RSA_EXPONENT2, c.exponent2);
        params.Add(OSSL_PKEY_PARAM_RSA_COEFFICIENT1, c.coefficient);
    }
    return params.Make(EVP_PKEY_KEYPAIR);
}

EvpPkeyPtr RsaKeys::LoadPublic(const Bytes& modulus, const Bytes& publicExponent) {
    RequireNonZero(modulus, "modulus");
    RequireNonZero(publicExponent, "public exponent");
    KeyParams params;
    params.Add(OSSL_PKEY_PARAM_RSA_N, modulus);
    params.Add(OSSL_PKEY_PARAM_RSA_E, publicExponent);
    return params.Make(EVP_PKEY_PUBLIC_KEY);
}

RsaKeyComponents RsaKeys::Export(const EVP_PKEY* key, bool withPrivate) {
    RsaKeyComponents c;
    c.modulus = Component(key, OSSL_PKEY_PARAM_RSA_N);
    c.publicExponent = Component(key, OSSL_PKEY_PARAM_RSA_E);
    if (c.modulus.empty() || c.publicExponent.empty())
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot read the RSA public components");
    if (!withPrivate) return c;
    c.privateExponent = Component(key, OSSL_PKEY_PARAM_RSA_D);
    c.prime1 = Component(key, OSSL_PKEY_PARAM_RSA_FACTOR1);
    c.prime2 = Component(key, OSSL_PKEY_PARAM_RSA_FACTOR2);
    c.exponent1 = Component(key, OSSL_PKEY_PARAM_RSA_EXPONENT1);
    c.exponent2 = Component(key, OSSL_PKEY_PARAM_RSA_EXPONENT2);
    c.coefficient = Component(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
    if (c.privateExponent.empty()) ThrowCrypto(CKR_FUNCTION_FAILED, "the RSA key has no private part");
    return c;
}

bool RsaKeys::IsRsa(const EVP_PKEY* key) { return EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA; }

}  // namespace softtoken::crypto
