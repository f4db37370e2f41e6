#pragma once
// A PKCS#12 file put on a token with standard calls: private key, public key and certificate,
// with the identifiers and labels the software token's own import gives them.
#include "crypto/Pkcs12.h"

#include <p11-kit/pkcs11.h>

class CPkcs12Import {
public:
    using Bytes = crypto::Bytes;

    // Parses the file. Wrong password: CKR_PIN_INCORRECT; not a usable file: CKR_DATA_INVALID.
    CPkcs12Import(const Bytes& file, const unsigned char* password, CK_ULONG passwordLength);
    CPkcs12Import(const CPkcs12Import&) = delete;
    CPkcs12Import& operator=(const CPkcs12Import&) = delete;
    ~CPkcs12Import();  // wipes the private key

    // A failing C_CreateObject throws CPKCSException with the module's code; the objects made
    // before it are destroyed again.
    void CreateObjects(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session) const;

private:
    crypto::Pkcs12Contents m_contents;
};
