#include "bench/BenchSupport.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace bench {

using Clock = std::chrono::steady_clock;

CK_FUNCTION_LIST* f = nullptr;

void Check(CK_RV rv, const char* what) {
    if (rv != CKR_OK) {
        std::fprintf(stderr, "%s failed: 0x%lX\n", what, rv);
        std::exit(1);
    }
}

double Seconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void Compare(const char* title, int count, const std::function<void()>& throughModule,
             const std::function<void()>& directly) {
    double module = 1e9, direct = 1e9;
    for (int round = 0; round < 5; ++round) {
        module = std::min(module, Seconds(throughModule));
        direct = std::min(direct, Seconds(directly));
    }
    std::printf("%s, %d each:\n", title, count);
    std::printf("  through the module   %8.3f ms each\n", 1000 * module / count);
    std::printf("  directly in OpenSSL  %8.3f ms each\n", 1000 * direct / count);
    std::printf("  ratio                %8.2f\n", module / direct);
}

EVP_PKEY* OpenSslRsaKey(const crypto::RsaKeyComponents& rsa) {
    OSSL_PARAM_BLD* builder = OSSL_PARAM_BLD_new();
    std::vector<BIGNUM*> numbers;
    auto push = [&](const char* name, const Bytes& value) {
        numbers.push_back(BN_bin2bn(value.data(), static_cast<int>(value.size()), nullptr));
        OSSL_PARAM_BLD_push_BN(builder, name, numbers.back());
    };
    push(OSSL_PKEY_PARAM_RSA_N, rsa.modulus);
    push(OSSL_PKEY_PARAM_RSA_E, rsa.publicExponent);
    push(OSSL_PKEY_PARAM_RSA_D, rsa.privateExponent);
    push(OSSL_PKEY_PARAM_RSA_FACTOR1, rsa.prime1);
    push(OSSL_PKEY_PARAM_RSA_FACTOR2, rsa.prime2);
    push(OSSL_PKEY_PARAM_RSA_EXPONENT1, rsa.exponent1);
    push(OSSL_PKEY_PARAM_RSA_EXPONENT2, rsa.exponent2);
    push(OSSL_PKEY_PARAM_RSA_COEFFICIENT1, rsa.coefficient);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(builder);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY* key = nullptr;
    EVP_PKEY_fromdata_init(ctx);
    EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_KEYPAIR, params);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(builder);
    for (BIGNUM* number : numbers) BN_free(number);
    return key;
}

CK_OBJECT_HANDLE CreateRsaPrivateKey(CK_SESSION_HANDLE session, crypto::RsaKeyComponents& rsa) {
    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE keyType = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE attributes[] = {
        {CKA_CLASS, &keyClass, sizeof keyClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType}, {CKA_TOKEN, &yes, 1},
        {CKA_MODULUS, rsa.modulus.data(), rsa.modulus.size()},
        {CKA_PUBLIC_EXPONENT, rsa.publicExponent.data(), rsa.publicExponent.size()},
        {CKA_PRIVATE_EXPONENT, rsa.privateExponent.data(), rsa.privateExponent.size()},
        {CKA_PRIME_1, rsa.prime1.data(), rsa.prime1.size()}, {CKA_PRIME_2, rsa.prime2.data(), rsa.prime2.size()},
        {CKA_EXPONENT_1, rsa.exponent1.data(), rsa.exponent1.size()},
        {CKA_EXPONENT_2, rsa.exponent2.data(), rsa.exponent2.size()},
        {CKA_COEFFICIENT, rsa.coefficient.data(), rsa.coefficient.size()},
    };
    CK_OBJECT_HANDLE key = 0;
    Check(f->C_CreateObject(session, attributes, 11, &key), "C_CreateObject");
    return key;
}

}  // namespace bench
