#pragma once
// One open session: its slot, its flags, the token generation it was opened on, and the
// operations active on it (one search, one signing, one verification).
#include "SignOperation.h"

#include <memory>
#include <vector>

namespace softtoken {

class Session {
public:
    Session(CK_SESSION_HANDLE handle, CK_SLOT_ID slot, CK_FLAGS flags, long long generation)
        : m_handle(handle), m_slot(slot), m_flags(flags), m_generation(generation) {}

    CK_SESSION_HANDLE Handle() const { return m_handle; }
    CK_SLOT_ID Slot() const { return m_slot; }
    CK_FLAGS Flags() const { return m_flags; }
    bool IsReadWrite() const { return (m_flags & CKF_RW_SESSION) != 0; }
    long long Generation() const { return m_generation; }

    // The search snapshot: handles matched at C_FindObjectsInit, handed out in order.
    bool searching = false;
    std::vector<CK_OBJECT_HANDLE> found;
    size_t nextFound = 0;

    // The last CSR or CMS blob the vendor entries built, so that the length query and the
    // call that fetches the blob see the same bytes even when signing is randomised.
    Bytes vendorRequest;
    Bytes vendorResult;

    std::unique_ptr<SignOperation> signing;
    std::unique_ptr<SignOperation> verifying;

private:
    CK_SESSION_HANDLE m_handle;
    CK_SLOT_ID m_slot;
    CK_FLAGS m_flags;
    long long m_generation;
};

}  // namespace softtoken
