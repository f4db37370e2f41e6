#include "RsaKeys.h"

#include "RsaEngine.h"

#include <openssl/core_names.h>
#include <openssl/rsa.h>

#include <algorithm>

namespace crypto {
namespace {

using RsaPtr = OpenSslPtr<RSA, RSA_free>;

bool IsZero(const Bytes& value) {
    return std::all_of(value.begin(), value.end(), [](unsigned char b) { return b == 0; });
}

// The numbers a key takes over; null for an absent (empty) component.
BIGNUM* Number(const Bytes& value) {
    if (value.empty()) return nullptr;
    return BytesToBignum(value).release();
}

// An RSA key on OpenSSL's own RSA code, bound to the private engine for every context made
// from it (signing, CSRs, CMS), whatever the host registered for RSA.
EvpPkeyPtr Bind(RsaPtr rsa) {
    EvpPkeyPtr key(EVP_PKEY_new());
    if (!key || EVP_PKEY_assign_RSA(key.get(), rsa.get()) != 1) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate an RSA key");
    rsa.release();
    if (EVP_PKEY_set1_engine(key.get(), RsaEngine::Get()) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot bind the RSA key to its engine");
    return key;
}

RsaPtr NewRsa() {
    RsaPtr rsa(RSA_new_method(RsaEngine::Get()));
    if (!rsa) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate an RSA key");
    return rsa;
}

// Hands the numbers to the key, which frees them; on failure they are freed here.
void SetNumbers(int (*set)(RSA*, BIGNUM*, BIGNUM*, BIGNUM*), RSA* rsa, BIGNUM* a, BIGNUM* b, BIGNUM* c) {
    if (set(rsa, a, b, c) == 1) return;
    BN_clear_free(a);
    BN_clear_free(b);
    BN_clear_free(c);
    ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "the RSA components do not form a key");
}

int SetFactors(RSA* rsa, BIGNUM* p, BIGNUM* q, BIGNUM*) { return RSA_set0_factors(rsa, p, q); }

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
    RsaPtr rsa = NewRsa();
    SetNumbers(RSA_set0_key, rsa.get(), Number(c.modulus), Number(c.publicExponent), Number(c.privateExponent));
    const Bytes* crt[] = {&c.prime1, &c.prime2, &c.exponent1, &c.exponent2, &c.coefficient};
    if (std::none_of(std::begin(crt), std::end(crt), [](const Bytes* v) { return IsZero(*v); })) {
        SetNumbers(SetFactors, rsa.get(), Number(c.prime1), Number(c.prime2), nullptr);
        SetNumbers(RSA_set0_crt_params, rsa.get(), Number(c.exponent1), Number(c.exponent2), Number(c.coefficient));
    }
    return Bind(std::move(rsa));
}

EvpPkeyPtr RsaKeys::LoadPublic(const Bytes& modulus, const Bytes& publicExponent) {
    RequireNonZero(modulus, "modulus");
    RequireNonZero(publicExponent, "public exponent");
    RsaPtr rsa = NewRsa();
    SetNumbers(RSA_set0_key, rsa.get(), Number(modulus), Number(publicExponent), nullptr);
    return Bind(std::move(rsa));
}

EvpPkeyPtr RsaKeys::Generate(int modulusBits, const Bytes& publicExponent) {
    RsaPtr rsa = NewRsa();
    BignumPtr e = BytesToBignum(publicExponent);
    if (RSA_generate_key_ex(rsa.get(), modulusBits, e.get(), nullptr) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "RSA key generation failed");
    return Bind(std::move(rsa));
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

}  // namespace crypto
