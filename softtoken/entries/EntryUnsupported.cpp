// Standard entries the token does not implement: they check the library state and the
// session like the others, then answer CKR_FUNCTION_NOT_SUPPORTED. C_WaitForSlotEvent
// answers a poll.
#include "entries/EntryGuard.h"

using namespace softtoken;

namespace {

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
// Every slot always holds its token, so no event ever comes: a poll finds none, and a
// blocking wait, which would never return, is not offered.
CK_RV C_WaitForSlotEvent(CK_FLAGS flags, CK_SLOT_ID_PTR slot, CK_VOID_PTR reserved) {
    return Guarded([&](Module&) {
        Require(slot != nullptr && reserved == nullptr, CKR_ARGUMENTS_BAD);
        return (flags & CKF_DONT_BLOCK) != 0 ? CKR_NO_EVENT : CKR_FUNCTION_NOT_SUPPORTED;
    });
}

}  // extern "C"
