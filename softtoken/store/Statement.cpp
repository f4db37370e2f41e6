#include "store/Statement.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

namespace softtoken {
namespace {

std::string Reason(sqlite3* db) {
    if (db == nullptr) return "out of memory";
    const std::string message = sqlite3_errmsg(db);
    const int error = sqlite3_system_errno(db);
    switch (sqlite3_errcode(db) & 0xFF) {
    case SQLITE_NOTADB:
        return "not an SQLite database";
    case SQLITE_CORRUPT:
        return "damaged or truncated (" + message + ")";
    case SQLITE_READONLY:
        return "not writable (" + message + ")";
    case SQLITE_BUSY:
        return "locked by another process for too long (" + message + ")";
    default:
        break;
    }
    if (error == EACCES || error == EPERM || error == EROFS) return OsReason(error);
    return error != 0 ? message + " (" + std::strerror(error) + ")" : message;
}

}  // namespace

std::string OsReason(int error) {
    const std::string text = std::strerror(error);
    if (error == EACCES || error == EPERM || error == EROFS) return "not writable (" + text + ")";
    return text;
}

void StoreUnusable(const std::string& path, const std::string& reason) {
    // Only a hash is kept: nothing here needs destroying at exit.
    static size_t lastReported = 0;
    const std::string line = "softtoken: cannot use the store " + path + ": " + reason + "\n";
    const size_t hash = std::hash<std::string>()(line);
    if (hash != lastReported) {
        lastReported = hash;
        std::fputs(line.c_str(), stderr);
    }
    throw Pkcs11Error(CKR_DEVICE_ERROR);
}

void StoreUnusable(sqlite3* db) {
    const char* path = db != nullptr ? sqlite3_db_filename(db, "main") : nullptr;
    StoreUnusable(path != nullptr ? path : "(unknown)", Reason(db));
}

Statement::Statement(sqlite3* db, const std::string& sql) : m_db(db) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &m_stmt, nullptr) != SQLITE_OK) StoreUnusable(db);
}

Statement::~Statement() { sqlite3_finalize(m_stmt); }

void Statement::Reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

Statement& Statement::Bind(int index, long long value) {
    if (sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK) StoreUnusable(m_db);
    return *this;
}

Statement& Statement::Bind(int index, const Bytes& value) {
    static const unsigned char empty = 0;
    const void* data = value.empty() ? &empty : value.data();
    const int rc = sqlite3_bind_blob64(m_stmt, index, data, value.size(), SQLITE_TRANSIENT);
    // A value beyond what one row may hold is the caller's, not the store's, failure.
    Require(rc != SQLITE_TOOBIG, CKR_DEVICE_MEMORY);
    if (rc != SQLITE_OK) StoreUnusable(m_db);
    return *this;
}

Statement& Statement::Bind(int index, const std::string& value) {
    if (sqlite3_bind_text64(m_stmt, index, value.c_str(), value.size(), SQLITE_TRANSIENT, SQLITE_UTF8) != SQLITE_OK)
        StoreUnusable(m_db);
    return *this;
}

bool Statement::Step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    StoreUnusable(m_db);
}

void Statement::Run() {
    while (Step()) {
    }
}

long long Statement::Int(int column) const { return sqlite3_column_int64(m_stmt, column); }

Bytes Statement::Blob(int column) const {
    const auto* data = static_cast<const unsigned char*>(sqlite3_column_blob(m_stmt, column));
    const int size = sqlite3_column_bytes(m_stmt, column);
    if (data == nullptr || size <= 0) return {};
    return Bytes(data, data + size);
}

std::string Statement::Text(int column) const {
    const auto* data = sqlite3_column_text(m_stmt, column);
    const int size = sqlite3_column_bytes(m_stmt, column);
    if (data == nullptr || size <= 0) return {};
    return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
}

}  // namespace softtoken
