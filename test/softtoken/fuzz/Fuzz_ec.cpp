// Feeds arbitrary bytes to the EC parameter and point decoders: the first byte says how many
// of the following bytes are CKA_EC_PARAMS; the rest is a CKA_EC_POINT (or ECDH public data)
// on that curve, loaded as a public key when it decodes, and also tried as a wrapped PKCS#8
// key. Each must answer or throw a CryptoError.
#include "crypto/EcKeys.h"
#include "crypto/EcParams.h"
#include "crypto/EcPoint.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t paramsLength = data[0] < size - 1 ? data[0] : size - 1;
    const crypto::Bytes params(data + 1, data + 1 + paramsLength);
    const crypto::Bytes rest(data + 1 + paramsLength, data + size);
    try {
        const crypto::EcCurve& curve = crypto::EcParams::Parse(params);
        const crypto::Bytes point = crypto::EcPoint::Decode(curve, rest);
        crypto::EcKeys::LoadPublic(curve, point);
    } catch (const crypto::CryptoError&) {
    }
    try {
        crypto::EcKeys::FromPkcs8(rest);
    } catch (const crypto::CryptoError&) {
    }
    return 0;
}
