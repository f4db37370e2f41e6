#pragma once
// GOST R 34.10-2001 keys and signatures through OpenSSL's GOST engine, in PKCS#11 layouts:
// the signed value is the 32-byte hash as PKCS#11 passes it, a signature is s||r (64 bytes).
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
    // Whether the key parameter set (DER OID) is one the engine can use.
    static bool IsKnownParamSet(const Bytes& paramsOidDer);

    // Loaded keys, cheap to reuse for many signatures: loading a private key computes its
    // public point, which costs as much as a signature.
    using PrivateKey = LoadedKey<struct GostPrivateTag>;
    using PublicKey = LoadedKey<struct GostPublicTag>;

    // Empty paramsOidDer means CryptoPro-A; unknown parameter set: CKR_ATTRIBUTE_VALUE_INVALID.
    static GostKeyComponents Generate(const Bytes& paramsOidDer);
    // CKR_ATTRIBUTE_VALUE_INVALID for values of the wrong length, out of range or off the curve.
    static PrivateKey LoadPrivate(const Bytes& privateValue, const Bytes& paramsOidDer);
    static PublicKey LoadPublic(const Bytes& publicValue, const Bytes& paramsOidDer);
    // CKR_DATA_LEN_RANGE unless hash32 is 32 bytes.
    static Bytes Sign(const PrivateKey& key, const Bytes& hash32);
    static Bytes Sign(const GostKeyComponents& key, const Bytes& hash32);
    // CKR_OK, CKR_SIGNATURE_INVALID, CKR_SIGNATURE_LEN_RANGE (not 64 bytes);
    // CKR_DATA_LEN_RANGE (throws) unless hash32 is 32 bytes.
    static CK_RV Verify(const PublicKey& key, const Bytes& hash32, const Bytes& signature);
    static CK_RV Verify(const Bytes& publicValue, const Bytes& paramsOidDer, const Bytes& hash32,
                        const Bytes& signature);
    // The 64-byte public value of a 32-byte private value.
    static Bytes PublicFromPrivate(const Bytes& privateValue, const Bytes& paramsOidDer);
};

}  // namespace crypto
