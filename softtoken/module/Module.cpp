#include "module/Module.h"

#include <openssl/crypto.h>
#include <pthread.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace softtoken {
namespace {

constexpr CK_ULONG kMaxSlots = 64;

// Neither has a destructor to run at exit, so both outlive the state.
static_assert(std::is_trivially_destructible_v<std::mutex>);
std::mutex g_lock;
bool g_gone = false;
Module* g_module = nullptr;  // the state once made, for the fork handlers

}  // namespace

std::mutex& Module::Lock() { return g_lock; }

Module* Module::Instance() {
    if (g_gone) return nullptr;
    static Module module;
    return &module;
}

// OpenSSL is set up first so that its exit handler, registered then, runs after this
// destructor, which still frees keys.
Module::Module() {
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);  // with 0 it registers nothing
    pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild);
    g_module = this;
}

// Runs when the process exits or unloads the module, before the exit handlers that were
// registered before the module was first used.
Module::~Module() {
    std::lock_guard<std::mutex> lock(g_lock);
    Clear();
    g_gone = true;
    g_module = nullptr;
}

void Module::BeforeFork() {
    g_lock.lock();
    if (g_module != nullptr && g_module->IsInitialized()) g_module->m_store->Close();
}

void Module::AfterForkInParent() {
    if (g_module != nullptr && g_module->IsInitialized()) {
        // A store that does not open again answers CKR_DEVICE_ERROR from then on.
        try {
            g_module->m_store->Reopen();
        } catch (...) {
        }
        for (auto& token : g_module->m_tokens) token->ForgetVersion();
    }
    g_lock.unlock();
}

void Module::AfterForkInChild() { g_lock.unlock(); }

CK_ULONG Module::SlotsFromEnvironment() {
    const char* text = std::getenv("SOFTTOKEN_SLOTS");
    if (text == nullptr || *text == '\0') return 1;
    if (!std::all_of(text, text + std::strlen(text), [](unsigned char c) { return std::isdigit(c) != 0; })) return 1;
    errno = 0;
    const unsigned long value = std::strtoul(text, nullptr, 10);
    if (errno == ERANGE) return kMaxSlots;
    return std::min<CK_ULONG>(value, kMaxSlots);
}

void Module::Initialize(const CK_C_INITIALIZE_ARGS* args) {
    Require(!IsInitialized(), CKR_CRYPTOKI_ALREADY_INITIALIZED);
    if (args != nullptr) {
        Require(args->pReserved == nullptr, CKR_ARGUMENTS_BAD);
        const int given = (args->CreateMutex != nullptr) + (args->DestroyMutex != nullptr) +
                          (args->LockMutex != nullptr) + (args->UnlockMutex != nullptr);
        Require(given == 0 || given == 4, CKR_ARGUMENTS_BAD);
        // Only the system's own locking is available.
        Require(given == 0 || (args->flags & CKF_OS_LOCKING_OK) != 0, CKR_CANT_LOCK);
    }
    // A child after fork() starts afresh; its parent's sessions are not its own.
    Clear();
    const CK_ULONG slots = SlotsFromEnvironment();
    auto store = std::make_unique<ObjectStore>(ObjectStore::DefaultPath());
    std::vector<std::unique_ptr<Token>> tokens;
    for (CK_SLOT_ID slot = 0; slot < slots; ++slot) tokens.push_back(std::make_unique<Token>(slot, *store));
    m_tokens = std::move(tokens);
    m_store = std::move(store);
    m_owner = getpid();
    m_initialized = true;
}

void Module::Finalize() {
    Require(IsInitialized(), CKR_CRYPTOKI_NOT_INITIALIZED);
    Clear();
}

void Module::Clear() {
    m_sessions.clear();
    m_tokens.clear();
    m_store.reset();
    m_initialized = false;
}

Token& Module::TokenAt(CK_SLOT_ID slot) {
    Require(slot < m_tokens.size(), CKR_SLOT_ID_INVALID);
    m_tokens[slot]->FollowGeneration();
    DropStaleSessions(slot);
    return *m_tokens[slot];
}

Session& Module::SessionAt(CK_SESSION_HANDLE handle) {
    auto it = m_sessions.find(handle);
    Require(it != m_sessions.end(), CKR_SESSION_HANDLE_INVALID);
    Session& session = *it->second;
    TokenOf(session).FollowGeneration();
    if (!IsCurrent(session)) {
        DropStaleSessions(session.Slot());
        throw Pkcs11Error(CKR_SESSION_HANDLE_INVALID);
    }
    return session;
}

Session& Module::OperationSessionAt(CK_SESSION_HANDLE handle) {
    auto it = m_sessions.find(handle);
    Require(it != m_sessions.end() && IsCurrent(*it->second), CKR_SESSION_HANDLE_INVALID);
    return *it->second;
}

Session* Module::FindSession(CK_SESSION_HANDLE handle) {
    auto it = m_sessions.find(handle);
    return it != m_sessions.end() && IsCurrent(*it->second) ? it->second.get() : nullptr;
}

bool Module::IsCurrent(const Session& session) const {
    return session.Generation() == m_tokens.at(session.Slot())->Generation();
}

// The token has already dropped the login and the objects of the older generation.
void Module::DropStaleSessions(CK_SLOT_ID slot) {
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (it->second->Slot() == slot && !IsCurrent(*it->second)) it = m_sessions.erase(it);
        else ++it;
    }
}

CK_SESSION_HANDLE Module::OpenSession(CK_SLOT_ID slot, CK_FLAGS flags) {
    Token& token = TokenAt(slot);
    Require((flags & CKF_SERIAL_SESSION) != 0, CKR_SESSION_PARALLEL_NOT_SUPPORTED);
    // The security officer's sessions are all read/write.
    if (token.State() == Token::Login::SecurityOfficer)
        Require((flags & CKF_RW_SESSION) != 0, CKR_SESSION_READ_WRITE_SO_EXISTS);
    const CK_SESSION_HANDLE handle = m_nextSession++;
    m_sessions[handle] =
        std::make_unique<Session>(handle, slot, flags & (CKF_SERIAL_SESSION | CKF_RW_SESSION), token.Generation());
    return handle;
}

void Module::CloseSession(CK_SESSION_HANDLE handle) {
    Session& session = SessionAt(handle);
    const CK_SLOT_ID slot = session.Slot();
    Token& token = TokenOf(session);
    token.DestroySessionObjects(handle);
    m_sessions.erase(handle);
    // The login ends with the last session of the token.
    if (SessionCount(slot, false) == 0 && token.State() != Token::Login::None) token.LogOut();
}

void Module::CloseAllSessions(CK_SLOT_ID slot) {
    Token& token = TokenAt(slot);
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (it->second->Slot() == slot) it = m_sessions.erase(it);
        else ++it;
    }
    token.DestroyAllSessionObjects();
    if (token.State() != Token::Login::None) token.LogOut();
}

CK_ULONG Module::SessionCount(CK_SLOT_ID slot, bool readWriteOnly) const {
    CK_ULONG count = 0;
    for (const auto& [handle, session] : m_sessions)
        if (session->Slot() == slot && IsCurrent(*session) && (!readWriteOnly || session->IsReadWrite())) ++count;
    return count;
}

void Module::EndOperations(CK_SLOT_ID slot) {
    for (auto& [handle, session] : m_sessions) {
        if (session->Slot() != slot) continue;
        session->EndOperations();
    }
}

std::shared_ptr<Object> Module::ObjectAt(const Session& session, CK_OBJECT_HANDLE handle) {
    std::shared_ptr<Object> object = TokenOf(session).Find(handle);
    Require(object != nullptr, CKR_OBJECT_HANDLE_INVALID);
    return object;
}

}  // namespace softtoken
