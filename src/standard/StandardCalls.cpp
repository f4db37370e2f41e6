#include "StandardCalls.h"

CK_RV CStandardCalls::LoadCert(CK_FUNCTION_LIST*, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG,
                               CK_BYTE_PTR, CK_ULONG) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV CStandardCalls::LoadX509Cert(CK_FUNCTION_LIST*, CK_SESSION_HANDLE, const char*, CK_BYTE_PTR,
                                   CK_ULONG, CK_BYTE_PTR, CK_ULONG) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV CStandardCalls::CreateCSR(CK_FUNCTION_LIST*, CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_BYTE_PTR,
                                CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR, CK_OBJECT_HANDLE, CK_BYTE_PTR,
                                CK_ULONG, CK_BYTE_PTR, CK_ULONG) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

// Signing with a certificate and checking a detached signature have no standard equivalent
// that the passes rely on.
CK_RV CStandardCalls::SignWithCert(CK_FUNCTION_LIST*, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG,
                                   CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR, CK_ULONG, CK_ULONG,
                                   CK_ULONG, CK_ULONG) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV CStandardCalls::VerifySignature(CK_FUNCTION_LIST*, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR,
                                      CK_ULONG) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
