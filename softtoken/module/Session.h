#pragma once
// One open session: its slot, its flags, the token generation it was opened on, and the
// operations active on it (one search, and one of each: signing, verification, digest,
// encryption, decryption).
#include "mechanisms/CipherOperation.h"
#include "mechanisms/SignOperation.h"
#include "objects/Object.h"
#include "store/StoreCipher.h"

#include <memory>
#include <vector>

namespace softtoken {

// An operation with the key it uses (kept alive for it), whether a multi-part call began it,
// and an output a short buffer could not take, handed to the caller's next call of the
// same kind instead of being computed again.
template <typename Operation>
struct ActiveOperation {
    enum class Call { None, OneShot, Update, Final };

    std::shared_ptr<Object> key;
    std::unique_ptr<Operation> operation;
    bool started = false;
    // A key with CKA_ALWAYS_AUTHENTICATE: the operation waits for C_Login(CKU_CONTEXT_SPECIFIC).
    bool needsContextLogin = false;
    // A one-piece call (C_Sign, C_Encrypt, C_Digest, ...) asked for its output's length: the
    // operation has begun in one piece, and multi-part calls may not take it on.
    bool oneShotAsked = false;
    Call pendingCall = Call::None;
    Bytes pending;
    // Whether outputs are secret (plaintext, digests of keys) and wiped when dropped; the
    // ciphertext of an encryption is not, and skips a pass over large outputs.
    bool secretOutput = true;

    bool Active() const { return operation != nullptr; }
    void Reset() {
        operation.reset();
        key.reset();
        started = false;
        needsContextLogin = false;
        oneShotAsked = false;
        DropPending();
        secretOutput = true;
    }
    void DropPending() {
        if (secretOutput) StoreCipher::Wipe(pending);
        pending.clear();
        pendingCall = Call::None;
    }
    ~ActiveOperation() {
        if (secretOutput) StoreCipher::Wipe(pending);
    }
};

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

    ActiveOperation<SignOperation> signing;
    ActiveOperation<SignOperation> verifying;
    ActiveOperation<SignOperation> digesting;
    ActiveOperation<CipherOperation> encrypting;
    ActiveOperation<CipherOperation> decrypting;

    void EndOperations() {
        signing.Reset();
        verifying.Reset();
        digesting.Reset();
        encrypting.Reset();
        decrypting.Reset();
    }

private:
    CK_SESSION_HANDLE m_handle;
    CK_SLOT_ID m_slot;
    CK_FLAGS m_flags;
    long long m_generation;
};

}  // namespace softtoken
