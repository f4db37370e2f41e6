// Finding the test objects by class and identifier, and deleting them.
#include "SignatureTestSupport.h"
#include "support/CustomException.h"

using fake::Byte;
using fake::Ulong;

namespace {

struct FinderCase {
    const char* title;
    CK_OBJECT_HANDLE (*find)(COpenRsa&);
    CK_OBJECT_CLASS objectClass;
    CK_BYTE id;
};

class FinderTest : public SignatureOperatorTest, public ::testing::WithParamInterface<FinderCase> {};

TEST_P(FinderTest, SearchesByClassAndIdAndEndsTheSearch)
{
    const FinderCase& c = GetParam();
    // Decoys that differ in one of the two attributes only.
    AddKey(c.objectClass, static_cast<CK_BYTE>(c.id + 1));
    AddKey(c.objectClass == CKO_DATA ? CKO_CERTIFICATE : CKO_DATA, c.id);
    const CK_OBJECT_HANDLE wanted = AddKey(c.objectClass, c.id);
    fake::ClearCalls();

    EXPECT_EQ(c.find(m_rsa), wanted);

    EXPECT_EQ(fake::CallNames(), (std::vector<std::string>{"C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal"}));
    const fake::Call& init = fake::Calls().at(0);
    EXPECT_EQ(init.args, (std::vector<CK_ULONG>{m_session, 2, 1}));
    ASSERT_EQ(init.templates.size(), 1u);
    EXPECT_EQ(Describe(init.templates[0]), Describe({Ulong(CKA_CLASS, c.objectClass), Byte(CKA_ID, c.id)}));
    EXPECT_EQ(fake::Calls().at(1).args, (std::vector<CK_ULONG>{m_session, 1}));
}

TEST_P(FinderTest, NoMatchEndsTheSearchBeforeRaising)
{
    const FinderCase& c = GetParam();
    try {
        c.find(m_rsa);
        FAIL() << "no exception";
    } catch (const CustomException& e) {
        EXPECT_STREQ(e.what(), "Object not found");
    }
    EXPECT_EQ(fake::CallNames(), (std::vector<std::string>{"C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal"}));
}

INSTANTIATE_TEST_SUITE_P(
    Finders, FinderTest,
    ::testing::Values(FinderCase{"PublicKey", [](COpenRsa& op) { return op.FindPublicKey(); }, CKO_PUBLIC_KEY, 100},
                      FinderCase{"PrivateKey", [](COpenRsa& op) { return op.FindPrivateKey(); }, CKO_PRIVATE_KEY, 100},
                      FinderCase{"SecretKey", [](COpenRsa& op) { return op.FindSecretKey(); }, CKO_SECRET_KEY, 200},
                      FinderCase{"Certificate", [](COpenRsa& op) { return op.FindX509Certificate(); },
                                 CKO_CERTIFICATE, 59}),
    [](const ::testing::TestParamInfo<FinderCase>& info) { return std::string(info.param.title); });

}  // namespace

TEST_F(SignatureOperatorTest, FirstMatchWinsAndEachDeletionRemovesOne)
{
    const CK_OBJECT_HANDLE first = AddKey(CKO_CERTIFICATE, kCertificateId);
    const CK_OBJECT_HANDLE second = AddKey(CKO_CERTIFICATE, kCertificateId);

    EXPECT_EQ(m_gost.FindX509Certificate(), first);
    m_rsa.DeleteX509Certificate();
    EXPECT_FALSE(fake::HasObject(first));
    EXPECT_TRUE(fake::HasObject(second));
    m_gost.DeleteX509Certificate();
    EXPECT_FALSE(fake::HasObject(second));
}

TEST_F(SignatureOperatorTest, DeleteKeyPairFindsBothThenDestroysPublicFirst)
{
    const CK_OBJECT_HANDLE publicKey = AddKey(CKO_PUBLIC_KEY, kKeyPairId);
    const CK_OBJECT_HANDLE privateKey = AddKey(CKO_PRIVATE_KEY, kKeyPairId);
    fake::ClearCalls();

    m_gost.DeleteKeyPair();

    EXPECT_EQ(fake::CallNames(),
              (std::vector<std::string>{"C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal", "C_FindObjectsInit",
                                        "C_FindObjects", "C_FindObjectsFinal", "C_DestroyObject", "C_DestroyObject"}));
    const auto searches = CallsNamed("C_FindObjectsInit");
    EXPECT_EQ(Describe(searches.at(0).templates.at(0)),
              Describe({Ulong(CKA_CLASS, CKO_PRIVATE_KEY), Byte(CKA_ID, kKeyPairId)}));
    EXPECT_EQ(Describe(searches.at(1).templates.at(0)),
              Describe({Ulong(CKA_CLASS, CKO_PUBLIC_KEY), Byte(CKA_ID, kKeyPairId)}));
    const auto destroyed = CallsNamed("C_DestroyObject");
    EXPECT_EQ(destroyed.at(0).args, (std::vector<CK_ULONG>{m_session, publicKey}));
    EXPECT_EQ(destroyed.at(1).args, (std::vector<CK_ULONG>{m_session, privateKey}));
    EXPECT_TRUE(fake::Objects().empty());
}

TEST_F(SignatureOperatorTest, HalfAKeyPairIsLeftAlone)
{
    const CK_OBJECT_HANDLE publicKey = AddKey(CKO_PUBLIC_KEY, kKeyPairId);
    try {
        m_rsa.DeleteKeyPair();
        FAIL() << "no exception";
    } catch (const CustomException& e) {
        EXPECT_STREQ(e.what(), "Object not found");
    }
    EXPECT_TRUE(CallsNamed("C_DestroyObject").empty());
    EXPECT_TRUE(fake::HasObject(publicKey));
}

TEST_F(SignatureOperatorTest, DestroyFailuresAreIgnored)
{
    const CK_OBJECT_HANDLE publicKey = AddKey(CKO_PUBLIC_KEY, kKeyPairId);
    const CK_OBJECT_HANDLE privateKey = AddKey(CKO_PRIVATE_KEY, kKeyPairId);
    const CK_OBJECT_HANDLE secretKey = AddKey(CKO_SECRET_KEY, kSecretKeyId);
    const CK_OBJECT_HANDLE certificate = AddKey(CKO_CERTIFICATE, kCertificateId);
    fake::Fail("C_DestroyObject", CKR_ACTION_PROHIBITED);

    EXPECT_NO_THROW(m_gost.DeleteSecretKey());
    EXPECT_NO_THROW(m_rsa.DeleteX509Certificate());
    EXPECT_NO_THROW(m_rsa.DeleteKeyPair());

    EXPECT_EQ(CallsNamed("C_DestroyObject").size(), 4u);
    for (CK_OBJECT_HANDLE handle : {publicKey, privateKey, secretKey, certificate}) {
        EXPECT_TRUE(fake::HasObject(handle));
    }
}
