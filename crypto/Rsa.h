#pragma once
// RSA key generation and PKCS#1 v1.5 signatures (raw and SHA-256) on byte vectors.
#include "CryptoError.h"
#include "LoadedKey.h"
#include "RsaKey.h"

#include <cstddef>

namespace crypto {

class Rsa {
public:
    static constexpr CK_ULONG kMinModulusBits = 1024;
    static constexpr CK_ULONG kMaxModulusBits = 4096;

    // Loaded keys, cheap to reuse for many operations.
    using PrivateKey = LoadedKey<struct RsaPrivateTag>;
    using PublicKey = LoadedKey<struct RsaPublicTag>;

    // Empty publicExponent means 65537. CKR_KEY_SIZE_RANGE outside the bounds above,
    // CKR_ATTRIBUTE_VALUE_INVALID for an even or too small exponent.
    static RsaKeyComponents Generate(CK_ULONG modulusBits, const Bytes& publicExponent);
    // CKR_ATTRIBUTE_VALUE_INVALID when the components do not form a key.
    static PrivateKey LoadPrivate(const RsaKeyComponents& components);
    static PublicKey LoadPublic(const Bytes& modulus, const Bytes& publicExponent);

    // CKM_RSA_PKCS: type-1 padding over the data as given; CKR_DATA_LEN_RANGE when data > k-11.
    static Bytes SignPkcs1Raw(const PrivateKey& key, const Bytes& data);
    // CKR_OK, CKR_SIGNATURE_INVALID or CKR_SIGNATURE_LEN_RANGE (signature not k bytes).
    static CK_RV VerifyPkcs1Raw(const PublicKey& key, const Bytes& data, const Bytes& signature);
    // CKM_SHA256_RSA_PKCS.
    static Bytes SignSha256Pkcs1(const PrivateKey& key, const Bytes& data);
    static CK_RV VerifySha256Pkcs1(const PublicKey& key, const Bytes& data, const Bytes& signature);

    // k, the modulus length in bytes.
    static size_t SignatureLength(const PrivateKey& key);
    static size_t SignatureLength(const PublicKey& key);
};

}  // namespace crypto
