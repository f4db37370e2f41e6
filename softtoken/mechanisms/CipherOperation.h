#pragma once
// An active encryption or decryption on a session. The entries keep an output the caller's
// buffer could not take, so Update and Final are each called once per piece of data.
#include "module/Pkcs11Error.h"

#include <cstddef>

namespace softtoken {

class CipherOperation {
public:
    virtual ~CipherOperation() = default;

    // RSA and the other one-block mechanisms answer false: only C_Encrypt/C_Decrypt.
    virtual bool AllowsMultiPart() const { return true; }
    virtual Bytes Update(const unsigned char* data, size_t length) = 0;
    virtual Bytes Final() = 0;
    // C_Encrypt and C_Decrypt; the default is Update then Final.
    virtual Bytes OneShot(const unsigned char* data, size_t length);
    // The most OneShot gives for an input length, where a family knows it without the work
    // (0 otherwise). Given a caller's buffer at least that large, the entries call
    // OneShotInto to write there directly: large outputs then take no copy.
    virtual size_t OneShotBound(size_t length) const;
    // Writes OneShot's output into out and returns its length; the default copies OneShot's.
    virtual size_t OneShotInto(const unsigned char* data, size_t length, unsigned char* out);
};

}  // namespace softtoken
