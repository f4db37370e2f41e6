#include "mechanisms/rsa/RsaParameters.h"

#include "module/Pkcs11Error.h"
#include "crypto/RsaHash.h"

namespace softtoken {
namespace {

using Scheme = crypto::RsaPadding::Scheme;

// MGF1 generators and the hashes they run on.
CK_MECHANISM_TYPE MgfHash(CK_RSA_PKCS_MGF_TYPE mgf) {
    switch (mgf) {
    case CKG_MGF1_SHA1: return CKM_SHA_1;
    case CKG_MGF1_SHA224: return CKM_SHA224;
    case CKG_MGF1_SHA256: return CKM_SHA256;
    case CKG_MGF1_SHA384: return CKM_SHA384;
    case CKG_MGF1_SHA512: return CKM_SHA512;
    default: throw Pkcs11Error(CKR_MECHANISM_PARAM_INVALID);
    }
}

CK_MECHANISM_TYPE KnownHash(CK_MECHANISM_TYPE hash) {
    Require(crypto::RsaHash::Length(hash) != 0, CKR_MECHANISM_PARAM_INVALID);
    return hash;
}

template <typename Params>
const Params& ParamsOf(const CK_MECHANISM& mechanism) {
    Require(mechanism.pParameter != nullptr && mechanism.ulParameterLen == sizeof(Params),
            CKR_MECHANISM_PARAM_INVALID);
    return *static_cast<const Params*>(mechanism.pParameter);
}

}  // namespace

crypto::RsaPadding RsaParameters::None(const CK_MECHANISM& mechanism, Scheme scheme, CK_MECHANISM_TYPE hash) {
    Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
    crypto::RsaPadding padding;
    padding.scheme = scheme;
    padding.hash = hash;
    return padding;
}

crypto::RsaPadding RsaParameters::Pss(const CK_MECHANISM& mechanism, CK_MECHANISM_TYPE hash) {
    const auto& params = ParamsOf<CK_RSA_PKCS_PSS_PARAMS>(mechanism);
    Require(hash == 0 || params.hashAlg == hash, CKR_MECHANISM_PARAM_INVALID);
    crypto::RsaPadding padding;
    padding.scheme = Scheme::Pss;
    padding.hash = KnownHash(params.hashAlg);
    padding.mgfHash = MgfHash(params.mgf);
    padding.saltLength = params.sLen;
    return padding;
}

crypto::RsaPadding RsaParameters::Oaep(const CK_MECHANISM& mechanism) {
    const auto& params = ParamsOf<CK_RSA_PKCS_OAEP_PARAMS>(mechanism);
    // No source with no data is taken as the empty label, as some callers send it.
    Require(params.source == CKZ_DATA_SPECIFIED || (params.source == 0 && params.ulSourceDataLen == 0),
            CKR_MECHANISM_PARAM_INVALID);
    Require(params.pSourceData != nullptr || params.ulSourceDataLen == 0, CKR_MECHANISM_PARAM_INVALID);
    crypto::RsaPadding padding;
    padding.scheme = Scheme::Oaep;
    padding.hash = KnownHash(params.hashAlg);
    padding.mgfHash = MgfHash(params.mgf);
    const auto* label = static_cast<const unsigned char*>(params.pSourceData);
    if (params.ulSourceDataLen != 0) padding.label.assign(label, label + params.ulSourceDataLen);
    return padding;
}

}  // namespace softtoken
