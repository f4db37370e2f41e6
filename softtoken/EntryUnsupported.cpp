// Standard entries the token does not implement: they check the library state and the
// session like the others, then answer CKR_FUNCTION_NOT_SUPPORTED.
#include "EntryGuard.h"

using namespace softtoken;

namespace {

CK_RV NotSupported() {
    return Guarded([](Module&) { return CKR_FUNCTION_NOT_SUPPORTED; });
}

CK_RV NotSupported(CK_SESSION_HANDLE handle) {
    return Guarded([handle](Module& module) {
        module.SessionAt(handle);
        return CKR_FUNCTION_NOT_SUPPORTED;
    });
}

}  // namespace

extern "C" {

CK_RV C_GetOperationState(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG_PTR) { return NotSupported(h); }
CK_RV C_SetOperationState(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE) {
    return NotSupported(h);
}
CK_RV C_EncryptInit(CK_SESSION_HANDLE h, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) { return NotSupported(h); }
CK_RV C_Encrypt(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) { return NotSupported(h); }
CK_RV C_EncryptUpdate(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported(h);
}
CK_RV C_EncryptFinal(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG_PTR) { return NotSupported(h); }
CK_RV C_DecryptInit(CK_SESSION_HANDLE h, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) { return NotSupported(h); }
CK_RV C_Decrypt(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) { return NotSupported(h); }
CK_RV C_DecryptUpdate(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported(h);
}
CK_RV C_DecryptFinal(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG_PTR) { return NotSupported(h); }
CK_RV C_DigestInit(CK_SESSION_HANDLE h, CK_MECHANISM_PTR) { return NotSupported(h); }
CK_RV C_Digest(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) { return NotSupported(h); }
CK_RV C_DigestUpdate(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG) { return NotSupported(h); }
CK_RV C_DigestKey(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE) { return NotSupported(h); }
CK_RV C_DigestFinal(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG_PTR) { return NotSupported(h); }
CK_RV C_SignRecoverInit(CK_SESSION_HANDLE h, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) { return NotSupported(h); }
CK_RV C_SignRecover(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) { return NotSupported(h); }
CK_RV C_VerifyRecoverInit(CK_SESSION_HANDLE h, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) { return NotSupported(h); }
CK_RV C_VerifyRecover(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported(h);
}
CK_RV C_DigestEncryptUpdate(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported(h);
}
CK_RV C_DecryptDigestUpdate(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported(h);
}
CK_RV C_SignEncryptUpdate(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported(h);
}
CK_RV C_DecryptVerifyUpdate(CK_SESSION_HANDLE h, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return NotSupported(h);
}
CK_RV C_WrapKey(CK_SESSION_HANDLE h, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE, CK_BYTE_PTR,
                CK_ULONG_PTR) {
    return NotSupported(h);
}
CK_RV C_UnwrapKey(CK_SESSION_HANDLE h, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_ATTRIBUTE_PTR,
                  CK_ULONG, CK_OBJECT_HANDLE_PTR) {
    return NotSupported(h);
}
CK_RV C_DeriveKey(CK_SESSION_HANDLE h, CK_MECHANISM_PTR, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG,
                  CK_OBJECT_HANDLE_PTR) {
    return NotSupported(h);
}
CK_RV C_WaitForSlotEvent(CK_FLAGS, CK_SLOT_ID_PTR, CK_VOID_PTR) { return NotSupported(); }

}  // extern "C"
