#pragma once
// An active signing, verification, MAC or digest on a session: data goes in, in one piece or
// in parts, and one value comes out. Each mechanism family implements it.
#include "module/Pkcs11Error.h"

#include <cstddef>

namespace softtoken {

class SignOperation {
public:
    virtual ~SignOperation() = default;

    // Mechanisms that take their input in one piece (raw RSA, ECDSA over a hash) answer false:
    // their Update calls answer CKR_FUNCTION_NOT_SUPPORTED.
    virtual bool AllowsMultiPart() const { return true; }
    virtual void Update(const unsigned char* data, size_t length) = 0;
    // The length of the value Final will give; known before the work is done.
    virtual size_t ResultLength() const = 0;
    // The signature, MAC or digest over everything given so far.
    virtual Bytes Final() = 0;
    // CKR_OK, CKR_SIGNATURE_INVALID or CKR_SIGNATURE_LEN_RANGE. The default recomputes the
    // value and compares in constant time, which suits MACs; public-key families override it.
    virtual CK_RV Verify(const Bytes& signature);
};

}  // namespace softtoken
