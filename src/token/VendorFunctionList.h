#pragma once
// The module's function list as the utility uses it: the standard CK_FUNCTION_LIST followed
// directly by five vendor entries. Modules that offer these entries (the bundled software
// token, the test fake) return the address of `standard` from C_GetFunctionList.
#include <p11-kit/pkcs11.h>

extern "C" {

typedef CK_RV (*CK_C_KTL_LoadCert)(CK_SESSION_HANDLE session, CK_BYTE_PTR p12, CK_ULONG p12Len,
                                   CK_BYTE_PTR password, CK_ULONG passwordLen);
typedef CK_RV (*CK_C_KTL_LoadX509Cert)(CK_SESSION_HANDLE session, const char* label, CK_BYTE_PTR id,
                                       CK_ULONG idLen, CK_BYTE_PTR der, CK_ULONG derLen);
typedef CK_RV (*CK_C_KTL_CreateCSR)(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE publicKey,
                                    CK_BYTE_PTR subject, CK_ULONG subjectCount, CK_BYTE_PTR csr,
                                    CK_ULONG_PTR csrLen, CK_OBJECT_HANDLE privateKey,
                                    CK_BYTE_PTR attributes, CK_ULONG attributeCount,
                                    CK_BYTE_PTR extensions, CK_ULONG extensionCount);
typedef CK_RV (*CK_C_KTL_SignWithCert)(CK_SESSION_HANDLE session, CK_BYTE_PTR data, CK_ULONG dataLen,
                                       CK_OBJECT_HANDLE certificate, CK_BYTE_PTR signature,
                                       CK_ULONG_PTR signatureLen, CK_ULONG reserved1,
                                       CK_ULONG reserved2, CK_ULONG reserved3, CK_ULONG reserved4);
typedef CK_RV (*CK_C_KTL_VerifySignature)(CK_BYTE_PTR signature, CK_ULONG signatureLen,
                                          CK_BYTE_PTR data, CK_ULONG dataLen);

struct CK_KTL_FUNCTION_LIST {
    CK_FUNCTION_LIST standard;
    CK_C_KTL_LoadCert C_KTL_LoadCert;
    CK_C_KTL_LoadX509Cert C_KTL_LoadX509Cert;
    CK_C_KTL_CreateCSR C_KTL_CreateCSR;
    CK_C_KTL_SignWithCert C_KTL_SignWithCert;
    CK_C_KTL_VerifySignature C_KTL_VerifySignature;
};

}  // extern "C"
