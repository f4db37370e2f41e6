#pragma once
// GOST 28147-89 MAC (4 bytes) through OpenSSL's GOST engine.
#include "CryptoError.h"

#include "Bytes.h"

namespace crypto {

class Gost28147 {
public:
    static constexpr size_t kKeyLength = 32;
    static constexpr size_t kMacLength = 4;

    // DER of 1.2.643.2.2.31.1 (CryptoPro-A S-box).
    static Bytes DefaultParamsOid();
    static bool IsKnownParamSet(const Bytes& paramsOidDer);

    // Whether the MAC can use the IV: none, or 8 zero bytes (the engine has no IV control, so
    // only the zero IV it always uses can be honoured).
    static bool IsUsableIv(const Bytes& iv);

    // Empty paramsOidDer means CryptoPro-A. An IV that is not usable (above):
    // CKR_MECHANISM_PARAM_INVALID. A key that is not
    // 32 bytes: CKR_KEY_SIZE_RANGE; unknown parameter set: CKR_ATTRIBUTE_VALUE_INVALID.
    static Bytes Mac(const Bytes& key32, const Bytes& paramsOidDer, const Bytes& iv,
                     const Bytes& data);
};

}  // namespace crypto
