#pragma once
// Helpers shared by the crypto-layer tests: hex, files, fresh temporary directories, and
// running the openssl command as an independent checker.
#include "crypto/Bytes.h"

#include <string>

namespace softtoken::crypto::test {

Bytes Hex(const std::string& hex);
std::string ToHex(const Bytes& bytes);
Bytes Reversed(Bytes bytes);
Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
std::string ConfFile(const std::string& name);

// A fresh directory, removed with its files when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string Path(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Runs a shell command; returns its exit status and fills output with stdout and stderr.
int RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace softtoken::crypto::test
