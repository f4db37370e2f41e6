#pragma once
// GOST R 34.10-2001 and 34.10-2012 keys and signatures through OpenSSL's GOST engine, in
// PKCS#11 layouts: the signed value is the hash as PKCS#11 passes it (32 bytes, or 64 for
// 512-bit keys), a signature is s||r (64 bytes, or 128). Overloads without a kind are 2001.
#include "CryptoError.h"
#include "GostKey.h"
#include "LoadedKey.h"

namespace crypto {

class GostR3410 {
public:
    static constexpr size_t kHashLength = 32;
    static constexpr size_t kSignatureLength = 64;

    // DER of 1.2.643.2.2.35.1 (CryptoPro-A) and of hash parameters 1.2.643.2.2.30.1.
    static Bytes DefaultParamsOid();
    static Bytes DefaultHashParamsOid();
    // DER of the hash parameters OID a kind's keys record (CKA_GOSTR3411_PARAMS).
    static Bytes HashParamsOid(GostKind kind);
    // The hash length a kind signs (32 or 64) and its signature length (64 or 128).
    static size_t HashLength(GostKind kind);
    static size_t SignatureLength(GostKind kind);
    // Whether the key parameter set (DER OID) is one the engine can use for the kind.
    static bool IsKnownParamSet(const Bytes& paramsOidDer);
    static bool IsKnownParamSet(GostKind kind, const Bytes& paramsOidDer);
    // The kind of a CKK_GOSTR3410 key (is512 false) or CKK_GOSTR3410_512 key from its
    // attributes: 2012 when its hash parameters are the GOST R 34.11-2012 hash or its key
    // parameter set exists only for 2012.
    static GostKind KindOf(bool is512, const Bytes& paramsOidDer, const Bytes& hashParamsOidDer);

    // Loaded keys, cheap to reuse for many signatures: loading a private key computes its
    // public point, which costs as much as a signature.
    using PrivateKey = LoadedKey<struct GostPrivateTag>;
    using PublicKey = LoadedKey<struct GostPublicTag>;

    // Empty paramsOidDer means the kind's default (CryptoPro-A; TC26 A for 512-bit keys);
    // unknown parameter set: CKR_ATTRIBUTE_VALUE_INVALID.
    static GostKeyComponents Generate(const Bytes& paramsOidDer);
    static GostKeyComponents Generate(GostKind kind, const Bytes& paramsOidDer);
    // CKR_ATTRIBUTE_VALUE_INVALID for values of the wrong length, out of range or off the curve.
    static PrivateKey LoadPrivate(const Bytes& privateValue, const Bytes& paramsOidDer);
    static PublicKey LoadPublic(const Bytes& publicValue, const Bytes& paramsOidDer);
    static PrivateKey LoadPrivate(GostKind kind, const Bytes& privateValue, const Bytes& paramsOidDer);
    static PublicKey LoadPublic(GostKind kind, const Bytes& publicValue, const Bytes& paramsOidDer);
    // CKR_DATA_LEN_RANGE unless the hash has the key's hash length.
    static Bytes Sign(const PrivateKey& key, const Bytes& hash);
    static Bytes Sign(const GostKeyComponents& key, const Bytes& hash32);
    // CKR_OK, CKR_SIGNATURE_INVALID, CKR_SIGNATURE_LEN_RANGE (not the key's signature length);
    // CKR_DATA_LEN_RANGE (throws) unless the hash has the key's hash length.
    static CK_RV Verify(const PublicKey& key, const Bytes& hash, const Bytes& signature);
    static CK_RV Verify(const Bytes& publicValue, const Bytes& paramsOidDer, const Bytes& hash32,
                        const Bytes& signature);
    // The public value of a private value.
    static Bytes PublicFromPrivate(const Bytes& privateValue, const Bytes& paramsOidDer);
    static Bytes PublicFromPrivate(GostKind kind, const Bytes& privateValue, const Bytes& paramsOidDer);
    // A private key as a PKCS#8 PrivateKeyInfo in the engine's form, and back (the kind is
    // read from the DER; CKR_WRAPPED_KEY_INVALID for DER that is no GOST R 34.10 key).
    static Bytes ToPkcs8(const PrivateKey& key);
    static GostKeyComponents FromPkcs8(const Bytes& der, GostKind& kind);
};

}  // namespace crypto
