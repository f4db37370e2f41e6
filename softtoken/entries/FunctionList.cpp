// The module's exported symbols: C_GetFunctionList, returning the standard list followed by
// the five vendor entries, and the PKCS#11 3.0 interface entries, which publish the same
// standard list (version 2.40) as "PKCS 11" and the five entries as the vendor interface.
#include <cstring>

#include "entries/EntryGuard.h"
#include "entries/VendorEntries.h"
#include "tokentest/VendorFunctionList.h"

namespace {

CK_KTL_FUNCTION_LIST MakeList() {
    CK_KTL_FUNCTION_LIST list{};
    CK_FUNCTION_LIST& f = list.standard;
    f.version = {2, 40};
    f.C_Initialize = C_Initialize;
    f.C_Finalize = C_Finalize;
    f.C_GetInfo = C_GetInfo;
    f.C_GetFunctionList = C_GetFunctionList;
    f.C_GetSlotList = C_GetSlotList;
    f.C_GetSlotInfo = C_GetSlotInfo;
    f.C_GetTokenInfo = C_GetTokenInfo;
    f.C_GetMechanismList = C_GetMechanismList;
    f.C_GetMechanismInfo = C_GetMechanismInfo;
    f.C_InitToken = C_InitToken;
    f.C_InitPIN = C_InitPIN;
    f.C_SetPIN = C_SetPIN;
    f.C_OpenSession = C_OpenSession;
    f.C_CloseSession = C_CloseSession;
    f.C_CloseAllSessions = C_CloseAllSessions;
    f.C_GetSessionInfo = C_GetSessionInfo;
    f.C_GetOperationState = C_GetOperationState;
    f.C_SetOperationState = C_SetOperationState;
    f.C_Login = C_Login;
    f.C_Logout = C_Logout;
    f.C_CreateObject = C_CreateObject;
    f.C_CopyObject = C_CopyObject;
    f.C_DestroyObject = C_DestroyObject;
    f.C_GetObjectSize = C_GetObjectSize;
    f.C_GetAttributeValue = C_GetAttributeValue;
    f.C_SetAttributeValue = C_SetAttributeValue;
    f.C_FindObjectsInit = C_FindObjectsInit;
    f.C_FindObjects = C_FindObjects;
    f.C_FindObjectsFinal = C_FindObjectsFinal;
    f.C_EncryptInit = C_EncryptInit;
    f.C_Encrypt = C_Encrypt;
    f.C_EncryptUpdate = C_EncryptUpdate;
    f.C_EncryptFinal = C_EncryptFinal;
    f.C_DecryptInit = C_DecryptInit;
    f.C_Decrypt = C_Decrypt;
    f.C_DecryptUpdate = C_DecryptUpdate;
    f.C_DecryptFinal = C_DecryptFinal;
    f.C_DigestInit = C_DigestInit;
    f.C_Digest = C_Digest;
    f.C_DigestUpdate = C_DigestUpdate;
    f.C_DigestKey = C_DigestKey;
    f.C_DigestFinal = C_DigestFinal;
    f.C_SignInit = C_SignInit;
    f.C_Sign = C_Sign;
    f.C_SignUpdate = C_SignUpdate;
    f.C_SignFinal = C_SignFinal;
    f.C_SignRecoverInit = C_SignRecoverInit;
    f.C_SignRecover = C_SignRecover;
    f.C_VerifyInit = C_VerifyInit;
    f.C_Verify = C_Verify;
    f.C_VerifyUpdate = C_VerifyUpdate;
    f.C_VerifyFinal = C_VerifyFinal;
    f.C_VerifyRecoverInit = C_VerifyRecoverInit;
    f.C_VerifyRecover = C_VerifyRecover;
    f.C_DigestEncryptUpdate = C_DigestEncryptUpdate;
    f.C_DecryptDigestUpdate = C_DecryptDigestUpdate;
    f.C_SignEncryptUpdate = C_SignEncryptUpdate;
    f.C_DecryptVerifyUpdate = C_DecryptVerifyUpdate;
    f.C_GenerateKey = C_GenerateKey;
    f.C_GenerateKeyPair = C_GenerateKeyPair;
    f.C_WrapKey = C_WrapKey;
    f.C_UnwrapKey = C_UnwrapKey;
    f.C_DeriveKey = C_DeriveKey;
    f.C_SeedRandom = C_SeedRandom;
    f.C_GenerateRandom = C_GenerateRandom;
    f.C_GetFunctionStatus = C_GetFunctionStatus;
    f.C_CancelFunction = C_CancelFunction;
    f.C_WaitForSlotEvent = C_WaitForSlotEvent;
    list.C_KTL_LoadCert = C_KTL_LoadCert;
    list.C_KTL_LoadX509Cert = C_KTL_LoadX509Cert;
    list.C_KTL_CreateCSR = C_KTL_CreateCSR;
    list.C_KTL_SignWithCert = C_KTL_SignWithCert;
    list.C_KTL_VerifySignature = C_KTL_VerifySignature;
    return list;
}

CK_KTL_FUNCTION_LIST& Functions() {
    static CK_KTL_FUNCTION_LIST functions = MakeList();
    return functions;
}

CK_KTL_VENDOR_FUNCTION_LIST& VendorFunctions() {
    static CK_KTL_VENDOR_FUNCTION_LIST vendor = {{kKtlVendorInterfaceMajor, 0},
                                                 C_KTL_LoadCert,
                                                 C_KTL_LoadX509Cert,
                                                 C_KTL_CreateCSR,
                                                 C_KTL_SignWithCert,
                                                 C_KTL_VerifySignature};
    return vendor;
}

const char kStandardInterfaceName[] = "PKCS 11";
constexpr CK_ULONG kInterfaceCount = 2;

// The standard's CK_INTERFACE has a writable name pointer; callers only read it.
CK_CHAR* InterfaceName(const char* name) { return reinterpret_cast<CK_CHAR*>(const_cast<char*>(name)); }

// The interfaces the module publishes, in the order C_GetInterfaceList gives them.
CK_INTERFACE* Interfaces() {
    static CK_INTERFACE interfaces[kInterfaceCount] = {
        {InterfaceName(kStandardInterfaceName), &Functions().standard, 0},
        {InterfaceName(kKtlVendorInterfaceName), &VendorFunctions(), 0},
    };
    return interfaces;
}

// Every interface's function list starts with its version.
const CK_VERSION& VersionOf(const CK_INTERFACE& interface) {
    return *static_cast<const CK_VERSION*>(interface.pFunctionList);
}

bool Matches(const CK_INTERFACE& interface, const CK_UTF8CHAR* name, const CK_VERSION* version, CK_FLAGS flags) {
    if (name != nullptr &&
        std::strcmp(reinterpret_cast<const char*>(interface.pInterfaceName), reinterpret_cast<const char*>(name)) != 0) {
        return false;
    }
    if (version != nullptr &&
        (VersionOf(interface).major != version->major || VersionOf(interface).minor != version->minor)) {
        return false;
    }
    return (interface.flags & flags) == flags;
}

}  // namespace

extern "C" {

CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    if (list == nullptr) return CKR_ARGUMENTS_BAD;
    *list = &Functions().standard;
    return CKR_OK;
}

CK_RV C_GetInterfaceList(CK_INTERFACE_PTR list, CK_ULONG_PTR count) {
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    if (list == nullptr) {
        *count = kInterfaceCount;
        return CKR_OK;
    }
    if (*count < kInterfaceCount) {
        *count = kInterfaceCount;
        return CKR_BUFFER_TOO_SMALL;
    }
    std::memcpy(list, Interfaces(), kInterfaceCount * sizeof(CK_INTERFACE));
    *count = kInterfaceCount;
    return CKR_OK;
}

// No name asks for the standard interface, the first that matches version and flags.
CK_RV C_GetInterface(CK_UTF8CHAR_PTR name, CK_VERSION_PTR version, CK_INTERFACE_PTR_PTR interface, CK_FLAGS flags) {
    if (interface == nullptr) return CKR_ARGUMENTS_BAD;
    CK_INTERFACE* interfaces = Interfaces();
    for (CK_ULONG i = 0; i < kInterfaceCount; ++i) {
        const CK_UTF8CHAR* wanted = name != nullptr ? name : reinterpret_cast<const CK_UTF8CHAR*>(kStandardInterfaceName);
        if (Matches(interfaces[i], wanted, version, flags)) {
            *interface = &interfaces[i];
            return CKR_OK;
        }
    }
    *interface = nullptr;
    return CKR_ARGUMENTS_BAD;
}

}  // extern "C"
