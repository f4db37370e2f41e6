#pragma once
// Has the token sign a certificate request's to-be-signed bytes with its private key: with
// the hash-and-sign mechanism (CKM_SHA256_RSA_PKCS, CKM_GOSTR3410_WITH_GOSTR3411) when the
// token offers it, else with the plain one (CKM_RSA_PKCS, CKM_GOSTR3410) over a hash made
// here (a SHA-256 DigestInfo; GOST R 34.11-94 with the CryptoPro parameters).
#include "crypto/KeyMaterial.h"

#include <p11-kit/pkcs11.h>

class CRequestSigner {
public:
    using Bytes = crypto::Bytes;

    // publicKey: the pair's public half, which fixes the algorithm and the signature length.
    CRequestSigner(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE privateKey,
                   const crypto::KeyMaterial& publicKey);

    // The modulus length, or 64 for GOST R 34.10-2001.
    size_t SignatureLength() const { return m_signatureLength; }
    // Asks the token (C_GetSessionInfo, C_GetMechanismInfo) whether it has the hash-and-sign
    // mechanism; when it cannot tell, the hash-and-sign mechanism is tried.
    CK_MECHANISM_TYPE ChooseMechanism() const;
    // C_SignInit, then C_Sign asked for the length and called again with a buffer of that
    // length: the module's failure codes come out as CPKCSException; a reported length below
    // SignatureLength() or beyond any signature, or a signature of another length than
    // SignatureLength(), as CKR_FUNCTION_FAILED.
    Bytes Sign(const Bytes& toBeSigned) const;

private:
    bool TokenLacks(CK_MECHANISM_TYPE mechanism) const;

    CK_FUNCTION_LIST* m_functions;
    CK_SESSION_HANDLE m_session;
    CK_OBJECT_HANDLE m_privateKey;
    bool m_isRsa;
    size_t m_signatureLength;
};
