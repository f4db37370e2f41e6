#include "SignatureTestSupport.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Hex(const fake::Bytes& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

std::string Describe(const std::vector<fake::Attribute>& attributes)
{
    std::ostringstream text;
    for (const fake::Attribute& attribute : attributes) {
        text << std::hex << "0x" << attribute.type << std::dec << " len=" << attribute.value.size()
             << " value=" << Hex(attribute.value);
        // Recorded attributes also carry the length as declared; show it when it differs.
        if (attribute.length != 0 && attribute.length != attribute.value.size()) {
            text << " declared=" << attribute.length;
        }
        text << "\n";
    }
    return text.str();
}

std::vector<fake::Call> CallsNamed(const std::string& name)
{
    std::vector<fake::Call> found;
    for (const fake::Call& call : fake::Calls()) {
        if (call.name == name) {
            found.push_back(call);
        }
    }
    return found;
}

std::vector<std::string> ModuleCallNames()
{
    std::vector<std::string> names;
    for (const std::string& name : fake::CallNames()) {
        if (name != "C_GetTokenInfo") {
            names.push_back(name);
        }
    }
    return names;
}

std::string ReferenceBase64(const std::string& bytes)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    std::size_t fullGroups = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        unsigned long group = static_cast<unsigned long>(static_cast<unsigned char>(bytes[i])) << 16;
        if (n > 1) group |= static_cast<unsigned long>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (n > 2) group |= static_cast<unsigned char>(bytes[i + 2]);
        for (std::size_t k = 0; k < 4; ++k) {
            encoded += k <= n ? alphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
        }
        // A line holds 18 complete groups; the padded last group never ends a line itself.
        if (n == 3 && ++fullGroups % 18 == 0) {
            encoded += '\n';
        }
    }
    return encoded + "\n";
}

void SignatureOperatorTest::SetUp()
{
    fake::Reset();
    fake::AddSlot(kSlot, "Signature test slot");
    m_owner.Initialize();
    m_owner.SetCurrentSlot(kSlot);
    ASSERT_EQ(m_owner.FunctionList()->C_OpenSession(kSlot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                                                    &m_session),
              CKR_OK);
    Lend(m_rsa);
    Lend(m_gost);
    fake::ClearCalls();
}

void SignatureOperatorTest::TearDown() { m_owner.Finalize(); }

void SignatureOperatorTest::Lend(CBaseSignatureOperator& op)
{
    op.Initialize(m_owner.ModuleHandle(), m_owner.FunctionList());
    op.SetCurrentSlot(kSlot);
    op.SetCurrentSession(m_session);
}

CK_OBJECT_HANDLE SignatureOperatorTest::AddKey(CK_OBJECT_CLASS objectClass, CK_BYTE id)
{
    return fake::AddObject({fake::Ulong(CKA_CLASS, objectClass), fake::Byte(CKA_ID, id)});
}
