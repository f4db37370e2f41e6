#pragma once
// Reading a mechanism's parameter: its length is checked before anything is read
// (CKR_MECHANISM_PARAM_INVALID otherwise), and crypto-layer failures become the module's codes.
#include "module/Pkcs11Error.h"

#include "crypto/CryptoError.h"

#include <p11-kit/pkcs11.h>

namespace softtoken {

class MechanismParameters {
public:
    static void RequireNone(const CK_MECHANISM& mechanism);
    // The parameter as an IV of exactly the block size.
    static Bytes Iv(const CK_MECHANISM& mechanism, size_t blockSize);
    // The parameter's bytes when it has one of the two lengths.
    static Bytes BytesOfLength(const CK_MECHANISM& mechanism, size_t length, size_t otherLength);
    // Bytes a caller's structure points at; null only with length zero.
    static Bytes Pointed(const unsigned char* data, CK_ULONG length);

    template <typename Struct>
    static const Struct& As(const CK_MECHANISM& mechanism) {
        Require(mechanism.pParameter != nullptr && mechanism.ulParameterLen == sizeof(Struct),
                CKR_MECHANISM_PARAM_INVALID);
        return *static_cast<const Struct*>(mechanism.pParameter);
    }

    // Runs a crypto-layer call, answering its failures as the module's own.
    template <typename Call>
    static auto Crypto(Call call) -> decltype(call()) {
        try {
            return call();
        } catch (const crypto::CryptoError& error) {
            throw Pkcs11Error(error.Rv());
        }
    }
};

}  // namespace softtoken
