#pragma once
// What the operation entries share: starting an operation on a session with its mechanism
// row and key, finding the active one, ending it unless the call only asked for a length,
// and handing out outputs by the length protocol.
#include "entries/EntryGuard.h"
#include "mechanisms/MechanismTable.h"

#include <utility>

namespace softtoken {

// Ends the operation when the call returns, unless Keep() was called: every failure, and
// every call that delivered the last output, ends it.
template <typename Operation>
class OperationEnd {
public:
    explicit OperationEnd(ActiveOperation<Operation>& active) : m_active(active) {}
    ~OperationEnd() {
        if (!m_keep) m_active.Reset();
    }
    OperationEnd(const OperationEnd&) = delete;
    OperationEnd& operator=(const OperationEnd&) = delete;
    void Keep() { m_keep = true; }

private:
    ActiveOperation<Operation>& m_active;
    bool m_keep = false;
};

template <typename Operation>
ActiveOperation<Operation>& Started(ActiveOperation<Operation>& active) {
    Require(active.Active(), CKR_OPERATION_NOT_INITIALIZED);
    // The operation stays active: the caller may still give the context-specific login.
    Require(!active.needsContextLogin, CKR_USER_NOT_LOGGED_IN);
    return active;
}

// Multi-part calls after a one-piece call that asked for its output's length: the
// operation began in one piece, so it ends here with CKR_OPERATION_ACTIVE.
template <typename Operation>
void RequireMultiPart(ActiveOperation<Operation>& active) {
    if (!active.oneShotAsked) return;
    active.Reset();
    throw Pkcs11Error(CKR_OPERATION_ACTIVE);
}

// Bad arguments answer CKR_ARGUMENTS_BAD before the session is looked at, and, as every
// failing call of an operation does, end the operation the call would have gone on with.
template <typename Operation>
void RequireArguments(bool valid, Module& module, CK_SESSION_HANDLE handle, ActiveOperation<Operation> Session::*of) {
    if (valid) return;
    if (Session* session = module.FindSession(handle)) (session->*of).Reset();
    throw Pkcs11Error(CKR_ARGUMENTS_BAD);
}

// Starts an operation: the key an Init call names, checked against the mechanism's row for
// the use (which must have the flag). A key with CKA_ALWAYS_AUTHENTICATE makes the
// operation wait for a context-specific login.
template <typename Operation>
std::pair<const MechanismRow*, Object*> StartWithKey(Module& module, Session& session,
                                                     ActiveOperation<Operation>& active, const CK_MECHANISM& mechanism,
                                                     CK_FLAGS needed, CK_OBJECT_HANDLE handle, KeyUse use) {
    Require(!active.Active(), CKR_OPERATION_ACTIVE);
    std::shared_ptr<Object> key = module.TokenOf(session).Find(handle);
    Require(key != nullptr, CKR_KEY_HANDLE_INVALID);
    const MechanismRow& row = MechanismTable::Require(mechanism, needed);
    MechanismTable::CheckKey(row, *key, use);
    active.Reset();
    active.key = std::move(key);
    active.needsContextLogin = active.key->Class() == CKO_PRIVATE_KEY && active.key->Bool(CKA_ALWAYS_AUTHENTICATE);
    return {&row, active.key.get()};
}

// Adds an object a call made: a session object belongs to the session, a token object needs
// a read-write one.
inline CK_OBJECT_HANDLE AddForSession(Module& module, Session& session, Object object) {
    if (object.IsTokenObject()) Require(session.IsReadWrite(), CKR_SESSION_READ_ONLY);
    else object.owner = session.Handle();
    return module.TokenOf(session).Add(std::move(object));
}

// Gives the caller an output by the length protocol. The output is computed once: while
// the caller's buffer is missing or short it stays pending for the next call of the same
// kind. True when the caller received it.
template <typename Operation, typename Compute>
bool GiveOutput(ActiveOperation<Operation>& active, typename ActiveOperation<Operation>::Call call, Compute compute,
                CK_BYTE_PTR out, CK_ULONG_PTR outLength, CK_RV& rv) {
    if (active.pendingCall != call) {
        active.DropPending();
        active.pending = compute();
        active.pendingCall = call;
    }
    rv = ToCaller(active.pending, out, outLength);
    if (out == nullptr || rv != CKR_OK) return false;
    active.DropPending();
    return true;
}

// A signature, MAC or digest by the length protocol: its length is known without the work,
// so a length query or a short buffer keeps the operation and computes nothing.
inline CK_RV FinishByLength(ActiveOperation<SignOperation>& active, CK_BYTE_PTR out, CK_ULONG_PTR outLength) {
    OperationEnd<SignOperation> end(active);
    const size_t length = active.operation->ResultLength();
    if (out == nullptr || *outLength < length) {
        const CK_RV rv = out == nullptr ? CKR_OK : CKR_BUFFER_TOO_SMALL;
        *outLength = static_cast<CK_ULONG>(length);
        end.Keep();
        return rv;
    }
    return ToCaller(active.operation->Final(), out, outLength);
}

}  // namespace softtoken
