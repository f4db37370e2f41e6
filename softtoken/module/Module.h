#pragma once
// The module's whole state in this process: whether it is initialised, the store, the token
// of each slot and the open sessions. One lock serialises every call.
#include "store/ObjectStore.h"
#include "module/Session.h"
#include "module/Token.h"

#include <map>
#include <memory>
#include <mutex>

#include <unistd.h>

namespace softtoken {

class Module {
public:
    // The lock every call holds. It stays valid after the state is gone, for hosts that call
    // in from exit handlers of their own.
    static std::mutex& Lock();
    // The state, created on first use; null once the process exits or unloads the module
    // (calls then answer CKR_CRYPTOKI_NOT_INITIALIZED). Only with Lock() held.
    static Module* Instance();
    ~Module();

    void Initialize(const CK_C_INITIALIZE_ARGS* args);
    void Finalize();
    // A child after fork() holds a copy of its parent's state: not initialised until it
    // calls C_Initialize itself.
    bool IsInitialized() const { return m_initialized && m_owner == getpid(); }

    CK_ULONG SlotCount() const { return static_cast<CK_ULONG>(m_tokens.size()); }
    // Both follow a re-initialisation by another process: sessions of the token's older
    // generation are closed, and SessionAt answers CKR_SESSION_HANDLE_INVALID for them.
    Token& TokenAt(CK_SLOT_ID slot);
    Session& SessionAt(CK_SESSION_HANDLE handle);
    // For the calls that go on with an operation an Init call started (C_Sign, C_EncryptUpdate,
    // ...): they use only what Init took, so they skip the store's version check, the largest
    // fixed cost of a short call. A re-initialisation elsewhere is noticed by the next call
    // that reads the store.
    Session& OperationSessionAt(CK_SESSION_HANDLE handle);
    // The session if it is open and current, else null; never throws.
    Session* FindSession(CK_SESSION_HANDLE handle);
    Token& TokenOf(const Session& session) { return *m_tokens.at(session.Slot()); }
    ObjectStore& Store() { return *m_store; }

    CK_SESSION_HANDLE OpenSession(CK_SLOT_ID slot, CK_FLAGS flags);
    void CloseSession(CK_SESSION_HANDLE handle);
    void CloseAllSessions(CK_SLOT_ID slot);
    CK_ULONG SessionCount(CK_SLOT_ID slot, bool readWriteOnly) const;  // of the current generation
    // Ends the operations of every session on the slot (at logout).
    void EndOperations(CK_SLOT_ID slot);

    // An object the session may use; CKR_OBJECT_HANDLE_INVALID for unknown or invisible ones.
    std::shared_ptr<Object> ObjectAt(const Session& session, CK_OBJECT_HANDLE handle);

private:
    Module();
    static CK_ULONG SlotsFromEnvironment();
    void Clear();
    bool IsCurrent(const Session& session) const;
    void DropStaleSessions(CK_SLOT_ID slot);
    // fork(): the parent's store connection is closed while the process is copied, so that
    // the child inherits no SQLite state, and opened again in the parent.
    static void BeforeFork();
    static void AfterForkInParent();
    static void AfterForkInChild();

    bool m_initialized = false;
    pid_t m_owner = 0;  // the process that initialised
    std::unique_ptr<ObjectStore> m_store;
    std::vector<std::unique_ptr<Token>> m_tokens;
    std::map<CK_SESSION_HANDLE, std::unique_ptr<Session>> m_sessions;
    CK_SESSION_HANDLE m_nextSession = 1;  // never reused within the process
};

}  // namespace softtoken
