#pragma once
// The module's function list as the utility uses it: the standard CK_FUNCTION_LIST followed
// directly by five vendor entries. Modules that offer these entries (the bundled software
// token, the test fake) return the address of `standard` from C_GetFunctionList.
//
// A module that exports C_GetInterface publishes the five entries as an interface of its own
// instead: asked by the name kKtlVendorInterfaceName, it answers a CK_INTERFACE whose
// pFunctionList points at a CK_KTL_VENDOR_FUNCTION_LIST (a version, 1.0, then the five
// entries in the order below). Such a module has nothing of the utility's behind its list.
#include <p11-kit/pkcs11.h>

extern "C" {

// PKCS#11 3.0 interfaces, laid out as the standard has them; the system header is 2.x only.
#ifndef CKF_INTERFACE_FORK_SAFE
struct CK_INTERFACE {
    CK_CHAR* pInterfaceName;
    CK_VOID_PTR pFunctionList;
    CK_FLAGS flags;
};
typedef CK_INTERFACE* CK_INTERFACE_PTR;
typedef CK_INTERFACE_PTR* CK_INTERFACE_PTR_PTR;
typedef CK_RV (*CK_C_GetInterfaceList)(CK_INTERFACE_PTR pInterfacesList, CK_ULONG_PTR pulCount);
typedef CK_RV (*CK_C_GetInterface)(CK_UTF8CHAR_PTR pInterfaceName, CK_VERSION_PTR pVersion,
                                   CK_INTERFACE_PTR_PTR ppInterface, CK_FLAGS flags);
CK_RV C_GetInterfaceList(CK_INTERFACE_PTR pInterfacesList, CK_ULONG_PTR pulCount);
CK_RV C_GetInterface(CK_UTF8CHAR_PTR pInterfaceName, CK_VERSION_PTR pVersion, CK_INTERFACE_PTR_PTR ppInterface,
                     CK_FLAGS flags);
#endif

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

// What the vendor interface's pFunctionList points at.
struct CK_KTL_VENDOR_FUNCTION_LIST {
    CK_VERSION version;
    CK_C_KTL_LoadCert C_KTL_LoadCert;
    CK_C_KTL_LoadX509Cert C_KTL_LoadX509Cert;
    CK_C_KTL_CreateCSR C_KTL_CreateCSR;
    CK_C_KTL_SignWithCert C_KTL_SignWithCert;
    CK_C_KTL_VerifySignature C_KTL_VerifySignature;
};

struct CK_KTL_FUNCTION_LIST {
    CK_FUNCTION_LIST standard;
    CK_C_KTL_LoadCert C_KTL_LoadCert;
    CK_C_KTL_LoadX509Cert C_KTL_LoadX509Cert;
    CK_C_KTL_CreateCSR C_KTL_CreateCSR;
    CK_C_KTL_SignWithCert C_KTL_SignWithCert;
    CK_C_KTL_VerifySignature C_KTL_VerifySignature;
};

}  // extern "C"

// The name of the vendor interface, and the version major of its function list.
inline constexpr char kKtlVendorInterfaceName[] = "tokentest vendor";
inline constexpr CK_BYTE kKtlVendorInterfaceMajor = 1;
