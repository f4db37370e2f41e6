#pragma once
// Shared pieces of the signature operator tests: operators with their helpers opened up,
// file and template helpers, and a fixture that lends the fake module to both operators on
// one open session. The console and the working directory come from the shared test support.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ConsoleScript.h"
#include "FakeModule.h"
#include "ScopedWorkDir.h"
#include "signature/GostSignatureOperator.h"
#include "signature/RsaSignatureOperator.h"

// The operators with their protected helpers reachable from tests.
template <typename Operator>
class COpenOperator : public Operator {
public:
    using Operator::FindObject;
    using Operator::FindPrivateKey;
    using Operator::FindPublicKey;
    using Operator::FindSecretKey;
    using Operator::FindX509Certificate;
    using Operator::MakeContiguous;
    using Operator::ReadCertificateFileBase64;
    using Operator::ReadCertificateFileDER;
    using Operator::ReadP12File;
    using Operator::WriteToFile;
};
using COpenRsa = COpenOperator<CRsaSignatureOperator>;
using COpenGost = COpenOperator<CGostSignatureOperator>;

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string Hex(const fake::Bytes& bytes);
// "type len=N value=hex" per attribute, one per line: compares templates byte for byte
// and shows the difference readably.
std::string Describe(const std::vector<fake::Attribute>& attributes);
std::vector<fake::Call> CallsNamed(const std::string& name);
// Call names without the token check every operation starts with.
std::vector<std::string> ModuleCallNames();
// Standard Base64 with a newline after every 72 characters and after the end, as the CSR
// file is written.
std::string ReferenceBase64(const std::string& bytes);

class SignatureOperatorTest : public ::testing::Test {
protected:
    static constexpr CK_SLOT_ID kSlot = 3;
    static constexpr CK_BYTE kKeyPairId = 100;
    static constexpr CK_BYTE kSecretKeyId = 200;
    static constexpr CK_BYTE kCertificateId = 59;

    void SetUp() override;
    void TearDown() override;

    // Lends the module, slot and session to an operator.
    void Lend(CBaseSignatureOperator& op);
    CK_OBJECT_HANDLE AddKey(CK_OBJECT_CLASS objectClass, CK_BYTE id);

    CTokenOperator m_owner;
    CK_SESSION_HANDLE m_session = 0;
    COpenRsa m_rsa;
    COpenGost m_gost;
};
