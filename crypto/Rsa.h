#pragma once
// RSA key generation, signatures (PKCS#1 v1.5, PSS, raw), encryption (PKCS#1 v1.5, OAEP,
// raw) and the PKCS#8 form of private keys, on byte vectors.
#include "CryptoError.h"
#include "LoadedKey.h"
#include "RsaKey.h"
#include "RsaPadding.h"

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

    // Signs the input as the padding says: PKCS#1 v1.5 over a digest of padding.hash (or over
    // a DigestInfo, at most k-11 bytes, when hash is 0), PSS over a digest, raw over at most k
    // bytes taken as a number below the modulus (left-padded with zeros). CKR_DATA_LEN_RANGE
    // for input of the wrong length, CKR_DATA_INVALID for raw input not below the modulus.
    static Bytes Sign(const PrivateKey& key, const RsaPadding& padding, const Bytes& input);
    // CKR_OK, CKR_SIGNATURE_INVALID or CKR_SIGNATURE_LEN_RANGE (signature not k bytes).
    static CK_RV Verify(const PublicKey& key, const RsaPadding& padding, const Bytes& input, const Bytes& signature);
    // PKCS#1 v1.5 (data at most k-11 bytes), OAEP (at most k-2h-2) or raw (at most k bytes, a
    // number below the modulus): CKR_DATA_LEN_RANGE, CKR_DATA_INVALID otherwise.
    static Bytes Encrypt(const PublicKey& key, const RsaPadding& padding, const Bytes& data);
    // CKR_ENCRYPTED_DATA_LEN_RANGE unless k bytes, CKR_ENCRYPTED_DATA_INVALID when the padding
    // does not check out. Raw decryption gives all k bytes.
    static Bytes Decrypt(const PrivateKey& key, const RsaPadding& padding, const Bytes& encrypted);

    // A PrivateKeyInfo holding an RSAPrivateKey; CKR_KEY_NOT_WRAPPABLE without all CRT values.
    static Bytes ToPkcs8(const RsaKeyComponents& components);
    // CKR_WRAPPED_KEY_INVALID for anything but one whole RSA PrivateKeyInfo.
    static RsaKeyComponents FromPkcs8(const Bytes& der);
    // The modulus length in bits, and CKR_ATTRIBUTE_VALUE_INVALID for values that cannot be a
    // key: a zero or even modulus, an exponent that is even, below 3 or not below the modulus.
    static CK_ULONG CheckPublic(const Bytes& modulus, const Bytes& publicExponent);
    // The same for a private key, and its private exponent below the modulus; when both primes
    // are given their product must be the modulus.
    static void CheckPrivate(const RsaKeyComponents& components);

    // k, the modulus length in bytes, and the modulus length in bits.
    static size_t SignatureLength(const PrivateKey& key);
    static size_t SignatureLength(const PublicKey& key);
    static size_t ModulusBits(const PrivateKey& key);
    static size_t ModulusBits(const PublicKey& key);
};

}  // namespace crypto
