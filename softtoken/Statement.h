#pragma once
// One prepared SQLite statement (RAII): bind, step, read columns.
#include "Pkcs11Error.h"

#include <sqlite3.h>

#include <string>

namespace softtoken {

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
