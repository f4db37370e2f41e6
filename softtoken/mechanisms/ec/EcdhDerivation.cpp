#include "mechanisms/ec/EcdhDerivation.h"

#include "mechanisms/ec/EcKeyObjects.h"
#include "objects/KeyAccess.h"
#include "objects/WipeGuard.h"
#include "crypto/EcPoint.h"
#include "crypto/Ecdh.h"

namespace softtoken {
namespace {

// OpenSSL's digest name for a KDF; null for CKD_NULL; CKR_MECHANISM_PARAM_INVALID otherwise.
const char* KdfDigest(CK_ULONG kdf) {
    switch (kdf) {
    case CKD_NULL: return nullptr;
    case CKD_SHA1_KDF: return "SHA1";
    case CKD_SHA224_KDF: return "SHA224";
    case CKD_SHA256_KDF: return "SHA256";
    case CKD_SHA384_KDF: return "SHA384";
    case CKD_SHA512_KDF: return "SHA512";
    default: throw Pkcs11Error(CKR_MECHANISM_PARAM_INVALID);
    }
}

const CK_ECDH1_DERIVE_PARAMS& ParamsOf(const CK_MECHANISM& mechanism) {
    Require(mechanism.pParameter != nullptr && mechanism.ulParameterLen == sizeof(CK_ECDH1_DERIVE_PARAMS),
            CKR_MECHANISM_PARAM_INVALID);
    const auto& params = *static_cast<const CK_ECDH1_DERIVE_PARAMS*>(mechanism.pParameter);
    Require(params.public_data != nullptr && params.public_data_len != 0, CKR_MECHANISM_PARAM_INVALID);
    Require(params.shared_data != nullptr || params.shared_data_len == 0, CKR_MECHANISM_PARAM_INVALID);
    // Shared data only goes into a KDF.
    Require(params.kdf != CKD_NULL || params.shared_data_len == 0, CKR_MECHANISM_PARAM_INVALID);
    return params;
}

crypto::EcKeys::PublicKey PeerKey(const crypto::EcCurve& curve, const CK_ECDH1_DERIVE_PARAMS& params) {
    const Bytes given(params.public_data, params.public_data + params.public_data_len);
    try {
        return crypto::EcKeys::LoadPublic(curve, crypto::EcPoint::Decode(curve, given));
    } catch (const crypto::CryptoError&) {
        throw Pkcs11Error(CKR_MECHANISM_PARAM_INVALID);
    }
}

}  // namespace

Bytes EcdhDerivation::Derive(const CK_MECHANISM& mechanism, Object& baseKey) {
    const CK_ECDH1_DERIVE_PARAMS& params = ParamsOf(mechanism);
    const char* digest = KdfDigest(params.kdf);
    const crypto::EcCurve* curve = nullptr;
    KeyAccess::Loaded([&] {
        curve = &EcKeyObjects::Curve(baseKey);
        Require(!curve->edwards, CKR_KEY_TYPE_INCONSISTENT);
        EcKeyObjects::Private(baseKey);
    });
    const crypto::EcKeys::PublicKey peer = PeerKey(*curve, params);
    Bytes secret = crypto::Ecdh::SharedSecret(EcKeyObjects::Private(baseKey), peer);
    if (digest == nullptr) return secret;
    WipeGuard wipe(secret);
    const Bytes sharedInfo(params.shared_data, params.shared_data + params.shared_data_len);
    return crypto::Ecdh::X963Kdf(digest, secret, sharedInfo, kKdfOutputLength);
}

}  // namespace softtoken
