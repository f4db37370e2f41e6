// Certificate requests with standard calls through the fake module: the public key read from
// the token, the mechanism chosen, the bytes given to C_Sign, the length protocol, and a
// request that the openssl command verifies once the fake answers with a real signature.
#include "FakeModuleFixture.h"
#include "StandardTestSupport.h"
#include "standard/StandardCalls.h"

#include "crypto/Digest.h"

#include <algorithm>

namespace standard_test {
namespace {

using fake::Attribute;

// What the swapped C_GetMechanismInfo answers, and what it was asked.
struct MechanismAnswer {
    CK_RV rv = CKR_OK;
    CK_FLAGS flags = 0;
    CK_SLOT_ID askedSlot = 0;
    CK_MECHANISM_TYPE asked = 0;
};
MechanismAnswer g_answer;

CK_RV SessionInfo(CK_SESSION_HANDLE, CK_SESSION_INFO* info)
{
    info->slotID = FakeModuleTest::kSlot;
    return CKR_OK;
}

CK_RV MechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO* info)
{
    g_answer.askedSlot = slot;
    g_answer.asked = type;
    info->flags = g_answer.flags;
    return g_answer.rv;
}

std::vector<Attribute> PublicKeyAttributes(const crypto::KeyMaterial& key)
{
    if (key.rsa)
        return {fake::Ulong(CKA_CLASS, CKO_PUBLIC_KEY), fake::Ulong(CKA_KEY_TYPE, CKK_RSA),
                fake::Raw(CKA_MODULUS, key.rsa->modulus), fake::Raw(CKA_PUBLIC_EXPONENT, key.rsa->publicExponent)};
    return {fake::Ulong(CKA_CLASS, CKO_PUBLIC_KEY), fake::Ulong(CKA_KEY_TYPE, CKK_GOSTR3410),
            fake::Raw(CKA_VALUE, key.gost->publicValue), fake::Raw(CKA_GOSTR3410_PARAMS, key.gost->paramsOid),
            fake::Raw(CKA_GOSTR3411_PARAMS, key.gost->hashParamsOid)};
}

class CsrTest : public FakeModuleTest, public ::testing::WithParamInterface<KeyFile> {
protected:
    void SetUp() override
    {
        FakeModuleTest::SetUp();
        m_contents = ReadKeyFile(GetParam());
        m_publicKey = fake::AddObject(PublicKeyAttributes(m_contents.publicKey));
        m_privateKey = fake::AddObject({fake::Ulong(CKA_CLASS, CKO_PRIVATE_KEY)});
        m_signatureLength = GetParam().gost ? 64 : m_contents.publicKey.rsa->modulus.size();
    }

    CK_RV Call(CK_BYTE_PTR csr, CK_ULONG* length)
    {
        return CStandardCalls::CreateCSR(&m_list, m_session, m_publicKey, m_lists.subject.data(), 2, csr, length,
                                         m_privateKey, m_lists.attributes.data(), 1, m_lists.extensions.data(), 1);
    }

    // The length protocol as the CSR step runs it.
    CK_RV Create(Bytes& csr)
    {
        CK_ULONG length = 0;
        const CK_RV rv = Call(nullptr, &length);
        if (rv != CKR_OK) return rv;
        csr.assign(length, 0);
        const CK_RV second = Call(csr.data(), &length);
        csr.resize(length);
        return second;
    }

    crypto::Pkcs12Contents m_contents;
    CK_OBJECT_HANDLE m_publicKey = CK_INVALID_HANDLE, m_privateKey = CK_INVALID_HANDLE;
    size_t m_signatureLength = 0;
    CsrLists m_lists;
};

struct MechanismCase {
    const char* name;
    bool swapInfo;        // otherwise the fake answers CKR_FUNCTION_NOT_SUPPORTED
    CK_RV rv;
    CK_FLAGS flags;
    bool plain;           // the token is taken to lack the hash-and-sign mechanism
};

const MechanismCase kMechanismCases[] = {
    {"token cannot tell", false, CKR_OK, 0, false},
    {"token has it", true, CKR_OK, CKF_SIGN | CKF_VERIFY, false},
    {"token lacks it", true, CKR_MECHANISM_INVALID, 0, true},
    {"token has it for verifying only", true, CKR_OK, CKF_VERIFY, true},
};

TEST_P(CsrTest, TokenSignsTheRequestAndOpensslVerifiesIt)
{
    for (const MechanismCase& c : kMechanismCases) {
        SCOPED_TRACE(c.name);
        if (c.swapInfo) {
            m_list.C_GetSessionInfo = SessionInfo;
            m_list.C_GetMechanismInfo = MechanismInfo;
            g_answer = {c.rv, c.flags, 0, 0};
        }
        fake::ClearCalls();
        fake::SetOutput("C_Sign", Bytes(m_signatureLength, 0));
        Bytes csr;
        ASSERT_EQ(Create(csr), CKR_OK);
        const RequestParts parts = SplitRequest(csr);
        EXPECT_EQ(parts.signatureAlgorithm, GetParam().gost ? "1.2.643.2.2.3" : "1.2.840.113549.1.1.11");
        EXPECT_EQ(parts.signature, Bytes(m_signatureLength, 0));
        if (c.swapInfo) {
            EXPECT_EQ(g_answer.askedSlot, kSlot);
            EXPECT_EQ(g_answer.asked, GetParam().hashAndSign);
        }

        // One signature for both calls of the request's length protocol; C_Sign itself is
        // asked for the length first, then signs into a buffer of that length.
        const std::vector<fake::Call> inits = CallsNamed("C_SignInit"), signs = CallsNamed("C_Sign");
        ASSERT_EQ(inits.size(), 1u);
        ASSERT_EQ(signs.size(), 2u);
        EXPECT_TRUE(signs[0].outputNull);
        EXPECT_FALSE(signs[1].outputNull);
        EXPECT_EQ(signs[0].buffers, signs[1].buffers);
        const CK_MECHANISM_TYPE mechanism = c.plain ? GetParam().plain : GetParam().hashAndSign;
        EXPECT_EQ(inits[0].mechanism, mechanism);
        EXPECT_EQ(inits[0].args[1], m_privateKey);
        EXPECT_TRUE(inits[0].mechanismParameter.empty());
        Bytes expectedData = parts.toBeSigned;
        if (mechanism == CKM_RSA_PKCS) expectedData = Sha256DigestInfo(parts.toBeSigned);
        if (mechanism == CKM_GOSTR3410) expectedData = crypto::Digest::Gost94(parts.toBeSigned);
        ASSERT_TRUE(signs[1].buffers[0].has_value());
        EXPECT_EQ(ToHex(*signs[1].buffers[0]), ToHex(expectedData));
        EXPECT_EQ(signs[1].args[1], m_signatureLength);

        // The same request again, the fake now answering what a token would.
        fake::SetOutput("C_Sign", TokenSignature(m_contents.privateKey, mechanism, expectedData));
        Bytes signedCsr;
        ASSERT_EQ(Create(signedCsr), CKR_OK);
        EXPECT_EQ(SplitRequest(signedCsr).toBeSigned, parts.toBeSigned);
        std::string output;
        EXPECT_TRUE(OpensslVerifies(signedCsr, GetParam().gost, &output)) << output;
    }
}

TEST_P(CsrTest, LengthProtocolCostsNoSignature)
{
    CK_ULONG length = 0;
    ASSERT_EQ(Call(nullptr, &length), CKR_OK);
    ASSERT_GT(length, m_signatureLength);
    Bytes shortBuffer(length - 1, 0xEE);
    CK_ULONG shortLength = shortBuffer.size();
    EXPECT_EQ(Call(shortBuffer.data(), &shortLength), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(shortLength, length);
    EXPECT_EQ(shortBuffer, Bytes(length - 1, 0xEE));
    EXPECT_TRUE(CallsNamed("C_SignInit").empty());
    EXPECT_TRUE(CallsNamed("C_Sign").empty());

    fake::SetOutput("C_Sign", Bytes(m_signatureLength, 7));
    Bytes large(length + 10, 0xEE);
    CK_ULONG largeLength = large.size();
    EXPECT_EQ(Call(large.data(), &largeLength), CKR_OK);
    EXPECT_EQ(largeLength, length);
    EXPECT_EQ(large[length], 0xEE);
    EXPECT_EQ(Call(large.data(), nullptr), CKR_ARGUMENTS_BAD);
}

TEST_P(CsrTest, ModuleFailuresComeBackUnchanged)
{
    struct Case {
        const char* entry;
        int fromCall;
        CK_RV rv;
    };
    const Case cases[] = {
        {"C_GetAttributeValue", 1, CKR_DEVICE_ERROR},   // the class, on the size query
        {"C_GetAttributeValue", 6, CKR_SESSION_CLOSED},  // the key's value, on the second read
        {"C_SignInit", 1, CKR_KEY_FUNCTION_NOT_PERMITTED},
        {"C_Sign", 1, CKR_DEVICE_REMOVED},
    };
    for (const Case& c : cases) {
        fake::Reset();
        fake::AddSlot(kSlot, "slot");
        ASSERT_EQ(m_list.C_Initialize(nullptr), CKR_OK);
        ASSERT_EQ(m_list.C_OpenSession(kSlot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &m_session),
                  CKR_OK);
        m_publicKey = fake::AddObject(PublicKeyAttributes(m_contents.publicKey));
        m_privateKey = fake::AddObject({fake::Ulong(CKA_CLASS, CKO_PRIVATE_KEY)});
        fake::SetOutput("C_Sign", Bytes(m_signatureLength, 7));
        fake::ClearCalls();
        fake::Fail(c.entry, c.rv, c.fromCall);
        Bytes csr(4096, 0xEE);
        CK_ULONG length = csr.size();
        EXPECT_EQ(Call(csr.data(), &length), c.rv) << c.entry << " " << c.fromCall;
        EXPECT_EQ(csr, Bytes(4096, 0xEE)) << c.entry;
    }
}

TEST_P(CsrTest, RefusedListsAndAnUnexpectedSignature)
{
    CK_ULONG length = 0;
    EXPECT_EQ(CStandardCalls::CreateCSR(&m_list, m_session, m_publicKey, nullptr, 2, nullptr, &length, m_privateKey,
                                        nullptr, 0, nullptr, 0),
              CKR_ARGUMENTS_BAD);
    Bytes many;
    for (int i = 0; i < 65; ++i) many.insert(many.end(), {'C', 'N', 0, 'x', 0});
    EXPECT_EQ(CStandardCalls::CreateCSR(&m_list, m_session, m_publicKey, many.data(), 65, nullptr, &length,
                                        m_privateKey, nullptr, 0, nullptr, 0),
              CKR_ARGUMENTS_BAD);
    EXPECT_TRUE(Names().empty());
    m_lists.subject = Pack({"XX", "unknown type", "C", "RU"});
    EXPECT_EQ(Call(nullptr, &length), CKR_ARGUMENTS_BAD);

    m_lists = CsrLists();
    fake::SetOutput("C_Sign", Bytes(m_signatureLength - 1, 7));
    Bytes csr;
    EXPECT_EQ(Create(csr), CKR_FUNCTION_FAILED);
}

TEST_P(CsrTest, SignatureLengthTheTokenReportsIsChecked)
{
    struct Case {
        const char* name;
        CK_ULONG reported;
        CK_RV rv;
        size_t signCalls;   // the size query alone when the length is not believed
    };
    const Case cases[] = {
        {"zero", 0, CKR_FUNCTION_FAILED, 1},
        {"one short", m_signatureLength - 1, CKR_FUNCTION_FAILED, 1},
        {"beyond any signature", CK_ULONG(1) << 40, CKR_FUNCTION_FAILED, 1},
        {"exact", m_signatureLength, CKR_OK, 2},
        {"an upper bound", m_signatureLength + 100, CKR_OK, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A fresh session: a size query that is not believed leaves its operation active.
        ASSERT_EQ(m_list.C_CloseSession(m_session), CKR_OK);
        ASSERT_EQ(m_list.C_OpenSession(kSlot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &m_session),
                  CKR_OK);
        fake::SetOutput("C_Sign", Bytes(m_signatureLength, 7));
        fake::SetReportedLength("C_Sign", c.reported);
        fake::ClearCalls();
        Bytes csr;
        EXPECT_EQ(Create(csr), c.rv);
        const std::vector<fake::Call> signs = CallsNamed("C_Sign");
        ASSERT_EQ(signs.size(), c.signCalls);
        if (c.signCalls == 2) {
            EXPECT_EQ(signs[1].args[1], c.reported);
            EXPECT_EQ(SplitRequest(csr).signature, Bytes(m_signatureLength, 7));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(KeyFiles, CsrTest, ::testing::ValuesIn(kKeyFiles),
                         [](const auto& info) { return std::string(info.param.name); });

// Public key objects the request cannot be made from; nothing is signed for them.
TEST_F(FakeModuleTest, UnusablePublicKeyObjects)
{
    const auto rsa = ReadKeyFile(kKeyFiles[0]).publicKey;
    const auto gost = ReadKeyFile(kKeyFiles[1]).publicKey;
    const std::vector<Attribute> rsaKey = PublicKeyAttributes(rsa);
    const std::vector<Attribute> gostKey = PublicKeyAttributes(gost);
    auto with = [](std::vector<Attribute> attributes, const Attribute& replacement) {
        for (Attribute& a : attributes)
            if (a.type == replacement.type) a = replacement;
        return attributes;
    };
    auto without = [](std::vector<Attribute> attributes, CK_ATTRIBUTE_TYPE type) {
        attributes.erase(std::remove_if(attributes.begin(), attributes.end(),
                                        [type](const Attribute& a) { return a.type == type; }),
                         attributes.end());
        return attributes;
    };
    Bytes shortGost = gost.gost->publicValue, longGost = gost.gost->publicValue;
    shortGost.pop_back();
    longGost.push_back(0);
    struct Case {
        const char* name;
        std::vector<Attribute> attributes;
        CK_RV rv;
    };
    const Case cases[] = {
        {"private key class", with(rsaKey, fake::Ulong(CKA_CLASS, CKO_PRIVATE_KEY)), CKR_KEY_HANDLE_INVALID},
        {"no class", without(rsaKey, CKA_CLASS), CKR_ATTRIBUTE_TYPE_INVALID},
        {"EC key", with(rsaKey, fake::Ulong(CKA_KEY_TYPE, CKK_EC)), CKR_KEY_TYPE_INCONSISTENT},
        {"four-byte key type", with(rsaKey, fake::Raw(CKA_KEY_TYPE, {0, 0, 0, 0})), CKR_KEY_HANDLE_INVALID},
        {"no modulus", without(rsaKey, CKA_MODULUS), CKR_ATTRIBUTE_TYPE_INVALID},
        {"empty modulus", with(rsaKey, fake::Raw(CKA_MODULUS, {})), CKR_KEY_HANDLE_INVALID},
        {"no exponent", without(rsaKey, CKA_PUBLIC_EXPONENT), CKR_ATTRIBUTE_TYPE_INVALID},
        {"63-byte GOST value", with(gostKey, fake::Raw(CKA_VALUE, shortGost)), CKR_KEY_HANDLE_INVALID},
        {"65-byte GOST value", with(gostKey, fake::Raw(CKA_VALUE, longGost)), CKR_KEY_HANDLE_INVALID},
        {"GOST point off the curve", with(gostKey, fake::Raw(CKA_VALUE, Bytes(64, 1))), CKR_KEY_HANDLE_INVALID},
        {"no GOST parameters", without(gostKey, CKA_GOSTR3410_PARAMS), CKR_ATTRIBUTE_TYPE_INVALID},
        {"no GOST hash parameters", without(gostKey, CKA_GOSTR3411_PARAMS), CKR_OK},
    };
    CsrLists lists;
    const CK_OBJECT_HANDLE privateKey = fake::AddObject({fake::Ulong(CKA_CLASS, CKO_PRIVATE_KEY)});
    fake::SetOutput("C_Sign", Bytes(64, 1));
    for (const Case& c : cases) {
        const CK_OBJECT_HANDLE key = fake::AddObject(c.attributes);
        fake::ClearCalls();
        Bytes csr(4096);
        CK_ULONG length = csr.size();
        EXPECT_EQ(CStandardCalls::CreateCSR(&m_list, m_session, key, lists.subject.data(), 2,
                                            csr.data(), &length, privateKey, nullptr, 0, nullptr, 0),
                  c.rv)
            << c.name;
        if (c.rv != CKR_OK) {
            EXPECT_TRUE(CallsNamed("C_SignInit").empty()) << c.name;
        }
    }
}

}  // namespace
}  // namespace standard_test
