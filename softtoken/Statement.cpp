#include "Statement.h"

namespace softtoken {

Statement::Statement(sqlite3* db, const std::string& sql) : m_db(db) {
    Require(sqlite3_prepare_v2(db, sql.c_str(), -1, &m_stmt, nullptr) == SQLITE_OK, CKR_DEVICE_ERROR);
}

Statement::~Statement() { sqlite3_finalize(m_stmt); }

void Statement::Reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

Statement& Statement::Bind(int index, long long value) {
    Require(sqlite3_bind_int64(m_stmt, index, value) == SQLITE_OK, CKR_DEVICE_ERROR);
    return *this;
}

Statement& Statement::Bind(int index, const Bytes& value) {
    static const unsigned char empty = 0;
    const void* data = value.empty() ? &empty : value.data();
    Require(sqlite3_bind_blob(m_stmt, index, data, static_cast<int>(value.size()), SQLITE_TRANSIENT) == SQLITE_OK,
            CKR_DEVICE_ERROR);
    return *this;
}

Statement& Statement::Bind(int index, const std::string& value) {
    Require(sqlite3_bind_text(m_stmt, index, value.c_str(), static_cast<int>(value.size()), SQLITE_TRANSIENT) ==
                SQLITE_OK,
            CKR_DEVICE_ERROR);
    return *this;
}

bool Statement::Step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw Pkcs11Error(CKR_DEVICE_ERROR);
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
