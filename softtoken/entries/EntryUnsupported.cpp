// Standard entries the token does not implement: they check the library state and the
// session like the others, then answer CKR_FUNCTION_NOT_SUPPORTED.
#include "entries/EntryGuard.h"

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
CK_RV C_WaitForSlotEvent(CK_FLAGS, CK_SLOT_ID_PTR, CK_VOID_PTR) { return NotSupported(); }

}  // extern "C"
