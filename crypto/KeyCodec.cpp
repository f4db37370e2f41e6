#include "KeyCodec.h"

#include "GostKeys.h"
#include "RsaKeys.h"

namespace crypto {

EvpPkeyPtr KeyCodec::LoadPrivate(const KeyMaterial& key, CK_RV failure) {
    try {
        if (key.rsa && !key.gost) return RsaKeys::LoadPrivate(*key.rsa);
        if (key.gost && !key.rsa) return GostKeys::LoadPrivate(key.gost->privateValue, key.gost->paramsOid);
    } catch (const CryptoError& e) {
        ThrowCrypto(failure, e.what());
    }
    ThrowCrypto(failure, "no private key");
}

EvpPkeyPtr KeyCodec::LoadPublic(const KeyMaterial& key, CK_RV failure) {
    try {
        if (key.rsa && !key.gost) return RsaKeys::LoadPublic(key.rsa->modulus, key.rsa->publicExponent);
        if (key.gost && !key.rsa) return GostKeys::LoadPublic(key.gost->publicValue, key.gost->paramsOid);
    } catch (const CryptoError& e) {
        ThrowCrypto(failure, e.what());
    }
    ThrowCrypto(failure, "no public key");
}

KeyMaterial KeyCodec::Export(const EVP_PKEY* key, bool withPrivate) {
    KeyMaterial out;
    if (RsaKeys::IsRsa(key)) out.rsa = RsaKeys::Export(key, withPrivate);
    else if (GostKeys::IsGost(key)) out.gost = GostKeys::Export(key, withPrivate);
    return out;
}

}  // namespace crypto
