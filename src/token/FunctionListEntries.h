#pragma once
// Every entry of the extended function list in list order, for the code that treats all of
// them alike: the call trace and the record of the module's answers wrap each one. STANDARD
// and VENDOR are called with the entry's name and how the trace writes its arguments (the
// letters are explained in CallTrace.cpp).
#include "tokentest/VendorFunctionList.h"

#define TOKENTEST_FUNCTION_LIST_ENTRIES(STANDARD, VENDOR)                                       \
    STANDARD(C_Initialize, "x")                                                                 \
    STANDARD(C_Finalize, "x")                                                                   \
    STANDARD(C_GetInfo, "x")                                                                    \
    STANDARD(C_GetFunctionList, "x")                                                            \
    STANDARD(C_GetSlotList, "na")                                                               \
    STANDARD(C_GetSlotInfo, "nx")                                                               \
    STANDARD(C_GetTokenInfo, "nx")                                                              \
    STANDARD(C_GetMechanismList, "na")                                                          \
    STANDARD(C_GetMechanismInfo, "nMx")                                                         \
    STANDARD(C_InitToken, "npL")                                                                \
    STANDARD(C_InitPIN, "np")                                                                   \
    STANDARD(C_SetPIN, "npp")                                                                   \
    STANDARD(C_OpenSession, "nFxxh")                                                            \
    STANDARD(C_CloseSession, "n")                                                               \
    STANDARD(C_CloseAllSessions, "n")                                                           \
    STANDARD(C_GetSessionInfo, "nx")                                                            \
    STANDARD(C_GetOperationState, "nol")                                                        \
    /* Saved operation state can hold keys. */                                                  \
    STANDARD(C_SetOperationState, "npnn")                                                       \
    STANDARD(C_Login, "nnp")                                                                    \
    STANDARD(C_Logout, "n")                                                                     \
    STANDARD(C_CreateObject, "nth")                                                             \
    STANDARD(C_CopyObject, "nnth")                                                              \
    STANDARD(C_DestroyObject, "nn")                                                             \
    STANDARD(C_GetObjectSize, "nnh")                                                            \
    STANDARD(C_GetAttributeValue, "nng")                                                        \
    STANDARD(C_SetAttributeValue, "nnt")                                                        \
    STANDARD(C_FindObjectsInit, "nt")                                                           \
    STANDARD(C_FindObjects, "nf")                                                               \
    STANDARD(C_FindObjectsFinal, "n")                                                           \
    STANDARD(C_EncryptInit, "nmn")                                                              \
    STANDARD(C_Encrypt, "nbol")                                                                 \
    STANDARD(C_EncryptUpdate, "nbol")                                                           \
    STANDARD(C_EncryptFinal, "nol")                                                             \
    STANDARD(C_DecryptInit, "nmn")                                                              \
    STANDARD(C_Decrypt, "nbol")                                                                 \
    STANDARD(C_DecryptUpdate, "nbol")                                                           \
    STANDARD(C_DecryptFinal, "nol")                                                             \
    STANDARD(C_DigestInit, "nm")                                                                \
    STANDARD(C_Digest, "nbol")                                                                  \
    STANDARD(C_DigestUpdate, "nb")                                                              \
    STANDARD(C_DigestKey, "nn")                                                                 \
    STANDARD(C_DigestFinal, "nol")                                                              \
    STANDARD(C_SignInit, "nmn")                                                                 \
    STANDARD(C_Sign, "nbol")                                                                    \
    STANDARD(C_SignUpdate, "nb")                                                                \
    STANDARD(C_SignFinal, "nol")                                                                \
    STANDARD(C_SignRecoverInit, "nmn")                                                          \
    STANDARD(C_SignRecover, "nbol")                                                             \
    STANDARD(C_VerifyInit, "nmn")                                                               \
    STANDARD(C_Verify, "nbb")                                                                   \
    STANDARD(C_VerifyUpdate, "nb")                                                              \
    STANDARD(C_VerifyFinal, "nb")                                                               \
    STANDARD(C_VerifyRecoverInit, "nmn")                                                        \
    STANDARD(C_VerifyRecover, "nbol")                                                           \
    STANDARD(C_DigestEncryptUpdate, "nbol")                                                     \
    STANDARD(C_DecryptDigestUpdate, "nbol")                                                     \
    STANDARD(C_SignEncryptUpdate, "nbol")                                                       \
    STANDARD(C_DecryptVerifyUpdate, "nbol")                                                     \
    STANDARD(C_GenerateKey, "nmth")                                                             \
    STANDARD(C_GenerateKeyPair, "nmtthh")                                                       \
    STANDARD(C_WrapKey, "nmnnol")                                                               \
    STANDARD(C_UnwrapKey, "nmnbth")                                                             \
    STANDARD(C_DeriveKey, "nmnth")                                                              \
    STANDARD(C_SeedRandom, "nb")                                                                \
    STANDARD(C_GenerateRandom, "nb")                                                            \
    STANDARD(C_GetFunctionStatus, "n")                                                          \
    STANDARD(C_CancelFunction, "n")                                                             \
    STANDARD(C_WaitForSlotEvent, "Fhx")                                                         \
    /* The PKCS#12 file holds a private key; its password is a PIN. */                          \
    VENDOR(C_KTL_LoadCert, "npp")                                                               \
    VENDOR(C_KTL_LoadX509Cert, "nsbb")                                                          \
    VENDOR(C_KTL_CreateCSR, "nncolncc")                                                         \
    VENDOR(C_KTL_SignWithCert, "nbnolnnnn")                                                     \
    VENDOR(C_KTL_VerifySignature, "bb")

namespace function_list {

// The entry a pointer to member names, in a standard or an extended list.
template <typename Entry>
Entry& EntryOf(CK_KTL_FUNCTION_LIST& list, Entry CK_FUNCTION_LIST::*member)
{
    return list.standard.*member;
}

template <typename Entry>
Entry& EntryOf(CK_KTL_FUNCTION_LIST& list, Entry CK_KTL_FUNCTION_LIST::*member)
{
    return list.*member;
}

}  // namespace function_list
