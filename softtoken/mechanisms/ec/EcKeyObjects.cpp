#include "mechanisms/ec/EcKeyObjects.h"

#include "objects/KeyAccess.h"
#include "objects/WipeGuard.h"
#include "crypto/EcPoint.h"

namespace softtoken {

const crypto::EcCurve& EcKeyObjects::Curve(const Object& key) { return crypto::EcParams::Parse(key.Get(CKA_EC_PARAMS)); }

const crypto::EcKeys::PrivateKey& EcKeyObjects::Private(Object& key) {
    return KeyAccess::Cached<crypto::EcKeys::PrivateKey>(
        key, [&key] { return crypto::EcKeys::LoadPrivate(Curve(key), key.Get(CKA_VALUE)); });
}

const crypto::EcKeys::PublicKey& EcKeyObjects::Public(Object& key) {
    return KeyAccess::Cached<crypto::EcKeys::PublicKey>(key, [&key] {
        const crypto::EcCurve& curve = Curve(key);
        return crypto::EcKeys::LoadPublic(curve, crypto::EcPoint::Decode(curve, key.Get(CKA_EC_POINT)));
    });
}

void EcKeyObjects::Fill(Object& publicKey, Object& privateKey, const Bytes& params,
                        const crypto::EcKeyComponents& ec) {
    publicKey.Set(CKA_EC_PARAMS, params);
    publicKey.Set(CKA_EC_POINT, crypto::EcPoint::Encode(ec.point));
    privateKey.Set(CKA_EC_PARAMS, params);
    privateKey.Set(CKA_VALUE, ec.privateValue);
}

}  // namespace softtoken
