#pragma once
// Helpers shared by the crypto-layer tests: hex, files, the result a call throws, and running
// the openssl command as an independent checker. Temporary directories come from the shared
// test support.
#include "TempDir.h"
#include "crypto/Bytes.h"

#include <p11-kit/pkcs11.h>

#include <functional>
#include <string>

namespace crypto::test {

Bytes Hex(const std::string& hex);
std::string ToHex(const Bytes& bytes);
Bytes Reversed(Bytes bytes);
Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& bytes);
std::string ConfFile(const std::string& name);
// The code of the CryptoError the call throws; CKR_OK when it returns.
CK_RV ErrorOf(const std::function<void()>& call);

// Runs a shell command; returns its exit status and fills output with stdout and stderr.
int RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace crypto::test
