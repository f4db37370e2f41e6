#pragma once
// What the standard-call tests share: the two key files as parameters, a request taken
// apart, the openssl command's verdict on a request, and signatures made as a token makes
// them for each mechanism.
#include "TestSupport.h"
#include "crypto/KeyMaterial.h"
#include "crypto/Pkcs12.h"

#include <p11-kit/pkcs11.h>

#include <ostream>
#include <string>
#include <vector>

namespace standard_test {

using crypto::Bytes;
using crypto::test::ConfFile;
using crypto::test::ReadFile;
using crypto::test::ToHex;

struct KeyFile {
    const char* name;   // test name
    const char* p12;    // in conf/
    bool gost;
    CK_MECHANISM_TYPE hashAndSign, plain;
};
inline void PrintTo(const KeyFile& file, std::ostream* out) { *out << file.name; }

extern const KeyFile kKeyFiles[2];
extern const Bytes kP12Password;  // "357"

crypto::Pkcs12Contents ReadKeyFile(const KeyFile& file);

// The to-be-signed part of a DER request as it stands in it, and its signature bytes.
struct RequestParts {
    Bytes toBeSigned;
    Bytes signature;
    std::string signatureAlgorithm;  // dotted OID
};
RequestParts SplitRequest(const Bytes& der);

// Runs "openssl req -verify" on the request; true when it says "verify OK". output gets all
// it printed.
bool OpensslVerifies(const Bytes& der, bool gost, std::string* output);

// A signature as a token makes it with this mechanism over data (for the plain mechanisms,
// data is the DigestInfo or the hash).
Bytes TokenSignature(const crypto::KeyMaterial& privateKey, CK_MECHANISM_TYPE mechanism, const Bytes& data);

// NUL-terminated strings one after another, as the CSR step packs its lists.
Bytes Pack(const std::vector<std::string>& strings);
// The CSR step's lists: two subject entries, one attribute, one extension.
struct CsrLists {
    Bytes subject = Pack({"CN", "name", "C", "RU"});
    Bytes attributes = Pack({"challengePassword", "7591"});
    Bytes extensions = Pack({"keyUsage", "digitalSignature,keyEncipherment", "1"});
};

// DigestInfo { sha256, SHA-256(data) } computed with OpenSSL.
Bytes Sha256DigestInfo(const Bytes& data);

}  // namespace standard_test
