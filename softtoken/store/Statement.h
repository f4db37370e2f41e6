#pragma once
// One prepared SQLite statement (RAII): bind, step, read columns; and how store failures
// are reported.
#include "module/Pkcs11Error.h"

#include <sqlite3.h>

#include <string>

namespace softtoken {

// Says on standard error which store cannot be used and why (once per process for the same
// words), then answers CKR_DEVICE_ERROR.
[[noreturn]] void StoreUnusable(const std::string& path, const std::string& reason);
// The same with the reason of the connection's last failure.
[[noreturn]] void StoreUnusable(sqlite3* db);
// The words for a system error number; permission errors read "not writable".
std::string OsReason(int error);

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Makes a used statement ready to run again with new bindings.
    void Reset();
    Statement& Bind(int index, long long value);
    Statement& Bind(int index, const Bytes& value);
    Statement& Bind(int index, const std::string& value);
    // True while a row is available; throws on errors (busy beyond the timeout included).
    bool Step();
    void Run();
    long long Int(int column) const;
    Bytes Blob(int column) const;
    std::string Text(int column) const;

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

}  // namespace softtoken
