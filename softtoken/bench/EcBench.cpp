// The EC family's figures: ECDSA P-256 (CKM_ECDSA over a 32-byte hash) and Ed25519
// (CKM_EDDSA over 64 bytes) signing through the module against EVP in OpenSSL alone.
#include "bench/BenchSupport.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <memory>

namespace bench {
namespace {

using Pkey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

Bytes PrivateValue(EVP_PKEY* key, size_t length) {
    Bytes value(length);
    if (EVP_PKEY_is_a(key, "ED25519")) {
        EVP_PKEY_get_raw_private_key(key, value.data(), &length);
        return value;
    }
    BIGNUM* scalar = nullptr;
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &scalar);
    BN_bn2binpad(scalar, value.data(), static_cast<int>(length));
    BN_clear_free(scalar);
    return value;
}

CK_OBJECT_HANDLE TokenKey(CK_SESSION_HANDLE session, CK_KEY_TYPE keyType, Bytes params, Bytes value) {
    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &keyClass, sizeof keyClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                 {CKA_SIGN, &yes, 1}, {CKA_EC_PARAMS, params.data(), params.size()},
                                 {CKA_VALUE, value.data(), value.size()}};
    CK_OBJECT_HANDLE key = 0;
    Check(f->C_CreateObject(session, attributes, 5, &key), "C_CreateObject");
    return key;
}

void SignThroughModule(CK_SESSION_HANDLE session, CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, Bytes& data,
                       int count) {
    CK_MECHANISM mechanism = {type, nullptr, 0};
    Bytes signature(64);
    for (int i = 0; i < count; ++i) {
        CK_ULONG length = signature.size();
        Check(f->C_SignInit(session, &mechanism, key), "C_SignInit");
        Check(f->C_Sign(session, data.data(), data.size(), signature.data(), &length), "C_Sign");
    }
}

void EcdsaP256(CK_SESSION_HANDLE session, int count) {
    Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "prime256v1"), EVP_PKEY_free);
    const CK_OBJECT_HANDLE tokenKey =
        TokenKey(session, CKK_EC, {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07}, PrivateValue(key.get(), 32));
    Bytes hash(32, 0x5A);
    auto directly = [&] {
        Bytes signature(80);
        for (int i = 0; i < count; ++i) {
            EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key.get(), nullptr);
            size_t length = signature.size();
            if (EVP_PKEY_sign_init(ctx) != 1 || EVP_PKEY_sign(ctx, signature.data(), &length, hash.data(), hash.size()) != 1)
                std::exit(2);
            EVP_PKEY_CTX_free(ctx);
        }
    };
    Compare("ECDSA P-256 CKM_ECDSA sign of a 32-byte hash", count,
            [&] { SignThroughModule(session, CKM_ECDSA, tokenKey, hash, count); }, directly);
}

void Ed25519(CK_SESSION_HANDLE session, int count) {
    Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), EVP_PKEY_free);
    const CK_OBJECT_HANDLE tokenKey = TokenKey(session, CKK_EC_EDWARDS, {0x06, 0x03, 0x2B, 0x65, 0x70}, PrivateValue(key.get(), 32));
    Bytes message(64, 0xA5);
    auto directly = [&] {
        Bytes signature(64);
        for (int i = 0; i < count; ++i) {
            EVP_MD_CTX* ctx = EVP_MD_CTX_new();
            size_t length = signature.size();
            if (EVP_DigestSignInit(ctx, nullptr, nullptr, nullptr, key.get()) != 1 ||
                EVP_DigestSign(ctx, signature.data(), &length, message.data(), message.size()) != 1)
                std::exit(2);
            EVP_MD_CTX_free(ctx);
        }
    };
    Compare("Ed25519 CKM_EDDSA sign of 64 bytes", count,
            [&] { SignThroughModule(session, CKM_EDDSA, tokenKey, message, count); }, directly);
}

}  // namespace

void EcBench(CK_SESSION_HANDLE session) {
    EcdsaP256(session, 2000);
    Ed25519(session, 2000);
}

}  // namespace bench
