#pragma once
// The five vendor entries done with standard PKCS#11 calls through a module's function list,
// for modules that lack them. Nothing here throws: every outcome is a CK_RV, and a module call
// that fails hands its own code back unchanged.
#include <p11-kit/pkcs11.h>

// The five vendor entries done with standard PKCS#11 calls through `functions`.
class CStandardCalls {
public:
    static CK_RV LoadCert(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session, CK_BYTE_PTR p12,
                          CK_ULONG p12Len, CK_BYTE_PTR password, CK_ULONG passwordLen);
    static CK_RV LoadX509Cert(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session,
                              const char* label, CK_BYTE_PTR id, CK_ULONG idLen, CK_BYTE_PTR der,
                              CK_ULONG derLen);
    static CK_RV CreateCSR(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session,
                           CK_OBJECT_HANDLE publicKey, CK_BYTE_PTR subject, CK_ULONG subjectCount,
                           CK_BYTE_PTR csr, CK_ULONG_PTR csrLen, CK_OBJECT_HANDLE privateKey,
                           CK_BYTE_PTR attributes, CK_ULONG attributeCount,
                           CK_BYTE_PTR extensions, CK_ULONG extensionCount);
    static CK_RV SignWithCert(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session,
                              CK_BYTE_PTR data, CK_ULONG dataLen, CK_OBJECT_HANDLE certificate,
                              CK_BYTE_PTR signature, CK_ULONG_PTR signatureLen, CK_ULONG reserved1,
                              CK_ULONG reserved2, CK_ULONG reserved3, CK_ULONG reserved4);
    static CK_RV VerifySignature(CK_FUNCTION_LIST* functions, CK_BYTE_PTR signature,
                                 CK_ULONG signatureLen, CK_BYTE_PTR data, CK_ULONG dataLen);
};
