#include "store/ObjectStore.h"

#include "store/Statement.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace softtoken {

ObjectStore::ObjectStore(std::string path) : m_path(std::move(path)) { Open(); }

ObjectStore::~ObjectStore() { Close(); }

void ObjectStore::PrepareFile() const {
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::path(m_path).parent_path();
    if (!parent.empty() && std::filesystem::exists(parent, ec) && !std::filesystem::is_directory(parent, ec))
        StoreUnusable(m_path, parent.string() + " is not a directory");
    if (!parent.empty() && !std::filesystem::exists(parent, ec)) {
        std::filesystem::create_directories(parent, ec);
        if (ec) StoreUnusable(m_path, "cannot create " + parent.string() + " (" + ec.message() + ")");
        std::filesystem::permissions(parent, std::filesystem::perms::owner_all, ec);
    }
    // Only the owner may read the store; SQLite gives its journal files the same mode.
    const int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) StoreUnusable(m_path, OsReason(errno));
    ::close(fd);
}

void ObjectStore::Open() {
    PrepareFile();
    const int rc = sqlite3_open_v2(m_path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                   nullptr);
    try {
        if (rc != SQLITE_OK) StoreUnusable(m_db);
        sqlite3_busy_timeout(m_db, 10000);
        SwitchToWal();
        // WAL with NORMAL survives the death of the process at any moment; only a power
        // failure may lose the last commits, never consistency.
        Exec("PRAGMA synchronous=NORMAL");
        // Fewer, larger checkpoints: each one waits for the disk.
        Exec("PRAGMA wal_autocheckpoint=4000");
        CreateSchema();
    } catch (...) {
        Close();
        throw;
    }
}

// Processes opening a new store at once all switch it to WAL; SQLite may answer busy to one
// of them without waiting (to avoid a deadlock), and that one simply tries again.
void ObjectStore::SwitchToWal() {
    constexpr int kTries = 100;
    int rc = SQLITE_BUSY;
    for (int tries = 0; tries < kTries && rc == SQLITE_BUSY; ++tries)
        rc = sqlite3_exec(Db(), "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) StoreUnusable(m_db);
}

void ObjectStore::Close() noexcept {
    m_statements.clear();
    sqlite3_close(m_db);
    m_db = nullptr;
}

void ObjectStore::Reopen() {
    Close();
    Open();
}

sqlite3* ObjectStore::Db() const {
    if (m_db == nullptr) StoreUnusable(m_path, "not open");
    return m_db;
}

Statement& ObjectStore::Cached(const char* sql) {
    std::unique_ptr<Statement>& statement = m_statements[sql];
    if (!statement) statement = std::make_unique<Statement>(Db(), sql);
    statement->Reset();
    return *statement;
}

std::string ObjectStore::DefaultPath() {
    if (const char* path = std::getenv("SOFTTOKEN_STORE"); path != nullptr && *path != '\0') return path;
    std::string base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0')
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        base = std::string(home) + "/.local/share";
    else
        base = ".";
    return base + "/tokentest/softtoken.db";
}

void ObjectStore::Exec(const std::string& sql) {
    if (sqlite3_exec(Db(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) StoreUnusable(m_db);
}

// In a write transaction: processes opening a new store at once would otherwise each read
// "no table" and one of them fail to write (SQLite answers busy at once, without waiting).
void ObjectStore::CreateSchema() {
    StoreTransaction transaction(*this);
    Exec("CREATE TABLE IF NOT EXISTS tokens (slot INTEGER PRIMARY KEY, initialized INTEGER NOT NULL,"
         " label BLOB, serial TEXT, iterations INTEGER, so_salt BLOB, so_verifier BLOB, so_key BLOB,"
         " user_salt BLOB, user_verifier BLOB, user_key BLOB, so_failures INTEGER NOT NULL DEFAULT 0,"
         " user_failures INTEGER NOT NULL DEFAULT 0, generation INTEGER NOT NULL DEFAULT 0)");
    // Stores made before the generation was kept start at generation 0.
    if (!HasColumn("tokens", "generation")) Exec("ALTER TABLE tokens ADD COLUMN generation INTEGER NOT NULL DEFAULT 0");
    Exec("CREATE TABLE IF NOT EXISTS objects (id INTEGER PRIMARY KEY AUTOINCREMENT, slot INTEGER NOT NULL,"
         " clear BLOB NOT NULL, sealed BLOB NOT NULL)");
    transaction.Commit();
}

bool ObjectStore::HasColumn(const char* table, const std::string& column) {
    Statement query(Db(), std::string("PRAGMA table_info(") + table + ")");
    while (query.Step())
        if (query.Text(1) == column) return true;
    return false;
}

long long ObjectStore::DataVersion() {
    Statement& query = Cached("PRAGMA data_version");
    const long long version = query.Step() ? query.Int(0) : 0;
    query.Reset();
    return version;
}

TokenRecord ObjectStore::LoadToken(CK_SLOT_ID slot) {
    TokenRecord record;
    record.slot = slot;
    Statement query(Db(),
                    "SELECT initialized, label, serial, iterations, so_salt, so_verifier, so_key, user_salt,"
                    " user_verifier, user_key, so_failures, user_failures, generation FROM tokens WHERE slot = ?");
    query.Bind(1, static_cast<long long>(slot));
    if (!query.Step()) return record;
    record.initialized = query.Int(0) != 0;
    record.label = query.Blob(1);
    record.serial = query.Text(2);
    record.iterations = query.Int(3);
    record.soSalt = query.Blob(4);
    record.soVerifier = query.Blob(5);
    record.soWrappedKey = query.Blob(6);
    record.userSalt = query.Blob(7);
    record.userVerifier = query.Blob(8);
    record.userWrappedKey = query.Blob(9);
    record.soFailures = query.Int(10);
    record.userFailures = query.Int(11);
    record.generation = query.Int(12);
    return record;
}

long long ObjectStore::Generation(CK_SLOT_ID slot) {
    Statement& query = Cached("SELECT generation FROM tokens WHERE slot = ?");
    query.Bind(1, static_cast<long long>(slot));
    const long long generation = query.Step() ? query.Int(0) : 0;
    query.Reset();
    return generation;
}

void ObjectStore::SaveFailures(CK_SLOT_ID slot, PinOwner owner, long long failures) {
    Statement& update = Cached(owner == PinOwner::SecurityOfficer ? "UPDATE tokens SET so_failures = ? WHERE slot = ?"
                                                                   : "UPDATE tokens SET user_failures = ? WHERE slot = ?");
    update.Bind(1, failures).Bind(2, static_cast<long long>(slot)).Run();
}

void ObjectStore::SavePin(CK_SLOT_ID slot, PinOwner owner, const Bytes& salt, const Bytes& verifier,
                          const Bytes& wrappedKey) {
    Statement& update = Cached(
        owner == PinOwner::SecurityOfficer
            ? "UPDATE tokens SET so_salt = ?, so_verifier = ?, so_key = ?, so_failures = 0 WHERE slot = ?"
            : "UPDATE tokens SET user_salt = ?, user_verifier = ?, user_key = ?, user_failures = 0 WHERE slot = ?");
    update.Bind(1, salt).Bind(2, verifier).Bind(3, wrappedKey).Bind(4, static_cast<long long>(slot)).Run();
}

void ObjectStore::ResetToken(const TokenRecord& r) {
    Statement wipe(Db(), "DELETE FROM objects WHERE slot = ?");
    wipe.Bind(1, static_cast<long long>(r.slot)).Run();
    Statement write(Db(),
                    "INSERT OR REPLACE INTO tokens (slot, initialized, label, serial, iterations, so_salt,"
                    " so_verifier, so_key, user_salt, user_verifier, user_key, so_failures, user_failures,"
                    " generation) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    write.Bind(1, static_cast<long long>(r.slot)).Bind(2, r.initialized ? 1 : 0).Bind(3, r.label).Bind(4, r.serial);
    write.Bind(5, r.iterations).Bind(6, r.soSalt).Bind(7, r.soVerifier).Bind(8, r.soWrappedKey);
    write.Bind(9, r.userSalt).Bind(10, r.userVerifier).Bind(11, r.userWrappedKey);
    write.Bind(12, r.soFailures).Bind(13, r.userFailures).Bind(14, r.generation);
    write.Run();
}

std::vector<StoredObject> ObjectStore::LoadObjects(CK_SLOT_ID slot) {
    std::vector<StoredObject> objects;
    Statement query(Db(), "SELECT id, clear, sealed FROM objects WHERE slot = ? ORDER BY id");
    query.Bind(1, static_cast<long long>(slot));
    while (query.Step()) objects.push_back({query.Int(0), query.Blob(1), query.Blob(2)});
    return objects;
}

long long ObjectStore::InsertObject(CK_SLOT_ID slot, const Bytes& clear, const Bytes& sealed) {
    Statement& insert = Cached("INSERT INTO objects (slot, clear, sealed) VALUES (?,?,?)");
    insert.Bind(1, static_cast<long long>(slot)).Bind(2, clear).Bind(3, sealed).Run();
    return sqlite3_last_insert_rowid(Db());
}

void ObjectStore::UpdateObject(long long id, const Bytes& clear, const Bytes& sealed) {
    Statement& update = Cached("UPDATE objects SET clear = ?, sealed = ? WHERE id = ?");
    update.Bind(1, clear).Bind(2, sealed).Bind(3, id).Run();
}

bool ObjectStore::DeleteObject(long long id) {
    Statement& remove = Cached("DELETE FROM objects WHERE id = ?");
    remove.Bind(1, id).Run();
    return sqlite3_changes(Db()) > 0;
}

void ObjectStore::Begin() { Cached("BEGIN IMMEDIATE").Run(); }
void ObjectStore::BeginRead() { Cached("BEGIN DEFERRED").Run(); }
void ObjectStore::Commit() { Cached("COMMIT").Run(); }
void ObjectStore::Rollback() noexcept {
    if (m_db != nullptr) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

}  // namespace softtoken
