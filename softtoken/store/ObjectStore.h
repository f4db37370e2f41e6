#pragma once
// The SQLite database that holds every token of the module: token records (label, PIN
// verifiers, wrapped token keys, failure counters, generation) and token objects. Each change
// is one committed transaction, so a killed process leaves either all of a change or none of it.
#include "module/Pkcs11Error.h"

#include <sqlite3.h>

#include <map>
#include <memory>
#include <string>

namespace softtoken {

struct TokenRecord {
    CK_SLOT_ID slot = 0;
    bool initialized = false;
    Bytes label;         // 32 bytes, blank padded
    std::string serial;  // up to 16 characters
    long long iterations = 0;
    Bytes soSalt, soVerifier, soWrappedKey;
    Bytes userSalt, userVerifier, userWrappedKey;
    long long soFailures = 0;
    long long userFailures = 0;
    long long generation = 0;  // advanced by every initialisation
};

enum class PinOwner { SecurityOfficer, User };

struct StoredObject {
    long long id = 0;
    Bytes clear;   // attributes kept in clear
    Bytes sealed;  // attributes sealed under the token key (may be empty)
};

class ObjectStore {
public:
    // Opens (and creates) the store; an unusable one is reported on standard error and
    // answers CKR_DEVICE_ERROR.
    explicit ObjectStore(std::string path);
    ~ObjectStore();
    ObjectStore(const ObjectStore&) = delete;
    ObjectStore& operator=(const ObjectStore&) = delete;

    // The store path from SOFTTOKEN_STORE, else under XDG_DATA_HOME or ~/.local/share.
    static std::string DefaultPath();

    // Changes whenever another connection commits; tells when cached objects are stale.
    long long DataVersion();

    TokenRecord LoadToken(CK_SLOT_ID slot);
    long long Generation(CK_SLOT_ID slot);  // 0 for a token never initialised
    // The writes below change only the fields they name. Callers run them inside a
    // transaction, on values read in that transaction.
    void SaveFailures(CK_SLOT_ID slot, PinOwner owner, long long failures);
    // A new PIN: salt, verifier and wrapped token key; its failure count starts again at 0.
    void SavePin(CK_SLOT_ID slot, PinOwner owner, const Bytes& salt, const Bytes& verifier, const Bytes& wrappedKey);
    // Wipes every object of the token and writes its whole new record.
    void ResetToken(const TokenRecord& record);

    std::vector<StoredObject> LoadObjects(CK_SLOT_ID slot);
    long long InsertObject(CK_SLOT_ID slot, const Bytes& clear, const Bytes& sealed);
    void UpdateObject(long long id, const Bytes& clear, const Bytes& sealed);
    // False when the row was already gone (another process destroyed it).
    bool DeleteObject(long long id);

    // Around fork(): the connection is closed while the process is copied, then opened again.
    void Close() noexcept;
    void Reopen();

    void Begin();      // a write transaction: other writers wait until it ends
    void BeginRead();  // a snapshot for reading only; writers go on
    void Commit();
    void Rollback() noexcept;

private:
    void Open();
    void PrepareFile() const;
    sqlite3* Db() const;  // the open connection (CKR_DEVICE_ERROR while closed)
    class Statement& Cached(const char* sql);
    void Exec(const std::string& sql);
    void SwitchToWal();
    void CreateSchema();
    bool HasColumn(const char* table, const std::string& column);

    std::string m_path;
    sqlite3* m_db = nullptr;
    // Prepared once, reused by every call: statements must go before the connection.
    std::map<const char*, std::unique_ptr<class Statement>> m_statements;
};

// Rolls back an open transaction unless it was committed.
class StoreTransaction {
public:
    enum class Kind { Write, Read };
    explicit StoreTransaction(ObjectStore& store, Kind kind = Kind::Write) : m_store(store) {
        if (kind == Kind::Write) m_store.Begin();
        else m_store.BeginRead();
    }
    ~StoreTransaction() {
        if (!m_done) m_store.Rollback();
    }
    void Commit() {
        m_store.Commit();
        m_done = true;
    }
    StoreTransaction(const StoreTransaction&) = delete;
    StoreTransaction& operator=(const StoreTransaction&) = delete;

private:
    ObjectStore& m_store;
    bool m_done = false;
};

}  // namespace softtoken
