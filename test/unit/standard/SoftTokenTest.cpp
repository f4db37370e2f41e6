// The standard-call entries against the software token itself: the objects of an import
// match those of the token's own vendor entry, and requests the token signs verify with the
// openssl command, with either mechanism.
#include "SoftTokenFixture.h"
#include "StandardTestSupport.h"
#include "standard/StandardCalls.h"

#include "TempDir.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>

namespace standard_test {
namespace {

using softtoken_test::RvName;

// The attributes a pass or a peer tool looks at. Not CKA_MODULUS_BITS: the token's own import
// sets it on the RSA public key, while its C_CreateObject does not derive it.
const CK_ATTRIBUTE_TYPE kCompared[] = {
    CKA_CLASS, CKA_KEY_TYPE, CKA_TOKEN, CKA_PRIVATE, CKA_LABEL, CKA_ID, CKA_SUBJECT, CKA_MODIFIABLE,
    CKA_SENSITIVE, CKA_EXTRACTABLE, CKA_ALWAYS_SENSITIVE, CKA_NEVER_EXTRACTABLE, CKA_LOCAL, CKA_SIGN, CKA_DECRYPT,
    CKA_UNWRAP, CKA_VERIFY, CKA_ENCRYPT, CKA_WRAP, CKA_DERIVE, CKA_MODULUS, CKA_PUBLIC_EXPONENT,
    CKA_VALUE, CKA_GOSTR3410_PARAMS, CKA_GOSTR3411_PARAMS, CKA_CERTIFICATE_TYPE, CKA_ISSUER, CKA_SERIAL_NUMBER,
    CKA_TRUSTED,
};

CK_RV MechanismInvalid(CK_SLOT_ID, CK_MECHANISM_TYPE, CK_MECHANISM_INFO*) { return CKR_MECHANISM_INVALID; }

CK_RV CreateCsr(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE publicKey,
                CK_OBJECT_HANDLE privateKey, Bytes& csr)
{
    CsrLists lists;
    CK_ULONG length = 0;
    CK_RV rv = CStandardCalls::CreateCSR(functions, session, publicKey, lists.subject.data(), 2, nullptr, &length,
                                         privateKey, lists.attributes.data(), 1, lists.extensions.data(), 1);
    if (rv != CKR_OK) return rv;
    csr.assign(length, 0);
    rv = CStandardCalls::CreateCSR(functions, session, publicKey, lists.subject.data(), 2, csr.data(), &length,
                                   privateKey, lists.attributes.data(), 1, lists.extensions.data(), 1);
    csr.resize(length);
    return rv;
}

class StandardOnSoftTokenTest : public softtoken_test::SoftTokenTest, public ::testing::WithParamInterface<KeyFile> {
protected:
    CK_RV LoadStandard(CK_SESSION_HANDLE session)
    {
        Bytes file = ReadFile(ConfFile(GetParam().p12)), password = kP12Password;
        return CStandardCalls::LoadCert(f, session, file.data(), file.size(), password.data(), password.size());
    }

    std::vector<std::string> Dump(CK_SESSION_HANDLE session)
    {
        std::vector<std::string> lines;
        for (CK_OBJECT_HANDLE object : FindAll(session)) {
            for (CK_ATTRIBUTE_TYPE type : kCompared) {
                CK_ATTRIBUTE query = {type, nullptr, 0};
                CK_RV rv = f->C_GetAttributeValue(session, object, &query, 1);
                Bytes value;
                if (rv == CKR_OK) {
                    value.resize(query.ulValueLen);
                    query.pValue = value.data();
                    rv = f->C_GetAttributeValue(session, object, &query, 1);
                }
                lines.push_back(std::to_string(type) + ": " + RvName(rv) + " " + ToHex(value));
            }
            lines.push_back("--");
        }
        return lines;
    }

    CK_OBJECT_HANDLE FindKey(CK_SESSION_HANDLE session, CK_OBJECT_CLASS keyClass)
    {
        const std::vector<CK_OBJECT_HANDLE> keys = Find(session, {{CKA_CLASS, &keyClass, sizeof keyClass}});
        return keys.size() == 1 ? keys[0] : CK_INVALID_HANDLE;
    }
};

TEST_P(StandardOnSoftTokenTest, ImportMakesTheObjectsOfTheTokensOwnImport)
{
    const CK_SESSION_HANDLE session = LoginUser();
    ASSERT_RV(CKR_OK, LoadStandard(session));
    const std::vector<std::string> standard = Dump(session);
    for (CK_OBJECT_HANDLE object : FindAll(session)) ASSERT_RV(CKR_OK, f->C_DestroyObject(session, object));

    Bytes file = ReadFile(ConfFile(GetParam().p12)), password = kP12Password;
    ASSERT_RV(CKR_OK, vendor->C_KTL_LoadCert(session, file.data(), file.size(), password.data(), password.size()));
    EXPECT_EQ(standard, Dump(session));
    EXPECT_EQ(std::count(standard.begin(), standard.end(), "--"), 3);
}

TEST_P(StandardOnSoftTokenTest, RequestVerifiesWithEitherMechanism)
{
    const CK_SESSION_HANDLE session = LoginUser();
    ASSERT_RV(CKR_OK, LoadStandard(session));
    const CK_OBJECT_HANDLE publicKey = FindKey(session, CKO_PUBLIC_KEY);
    const CK_OBJECT_HANDLE privateKey = FindKey(session, CKO_PRIVATE_KEY);

    CK_FUNCTION_LIST lacking = *f;  // a token without the hash-and-sign mechanism
    lacking.C_GetMechanismInfo = MechanismInvalid;
    for (CK_FUNCTION_LIST* functions : {f, &lacking}) {
        Bytes csr;
        ASSERT_RV(CKR_OK, CreateCsr(functions, session, publicKey, privateKey, csr));
        std::string output;
        EXPECT_TRUE(OpensslVerifies(csr, GetParam().gost, &output)) << output;
    }
}

TEST_P(StandardOnSoftTokenTest, TokenRefusalsComeBackUnchanged)
{
    const CK_SESSION_HANDLE session = LoginUser();
    ASSERT_RV(CKR_OK, LoadStandard(session));
    const CK_OBJECT_HANDLE publicKey = FindKey(session, CKO_PUBLIC_KEY);
    Bytes csr;
    EXPECT_RV(CKR_KEY_TYPE_INCONSISTENT, CreateCsr(f, session, publicKey, publicKey, csr));
    Bytes file = ReadFile(ConfFile(GetParam().p12)), password = {'0'};
    EXPECT_RV(CKR_PIN_INCORRECT,
              CStandardCalls::LoadCert(f, session, file.data(), file.size(), password.data(), password.size()));
    EXPECT_RV(CKR_OK, f->C_Logout(session));
    password = kP12Password;
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN,
              CStandardCalls::LoadCert(f, session, file.data(), file.size(), password.data(), password.size()));
    EXPECT_EQ(FindAll(session).size(), 2u) << "the public key and the certificate stay visible";
}

INSTANTIATE_TEST_SUITE_P(KeyFiles, StandardOnSoftTokenTest, ::testing::ValuesIn(kKeyFiles),
                         [](const auto& info) { return std::string(info.param.name); });

using StandardCertificateTest = softtoken_test::SoftTokenTest;

TEST_F(StandardCertificateTest, CertificateObjectIsTheTokensOwn)
{
    const CK_SESSION_HANDLE session = LoginUser();
    Bytes der = ReadFile(ConfFile("ca_gost.crt"));
    Bytes id = {0x3B};
    ASSERT_RV(CKR_OK, CStandardCalls::LoadX509Cert(f, session, "ca", id.data(), 1, der.data(), der.size()));
    ASSERT_RV(CKR_OK, vendor->C_KTL_LoadX509Cert(session, "ca", id.data(), 1, der.data(), der.size()));
    const std::vector<CK_OBJECT_HANDLE> objects = FindAll(session);
    ASSERT_EQ(objects.size(), 2u);
    for (CK_ATTRIBUTE_TYPE type : kCompared) {
        CK_ATTRIBUTE query = {type, nullptr, 0};
        const CK_RV standard = f->C_GetAttributeValue(session, objects[0], &query, 1);
        const CK_RV own = f->C_GetAttributeValue(session, objects[1], &query, 1);
        EXPECT_EQ(RvName(standard), RvName(own)) << type;
        if (standard == CKR_OK) {
            EXPECT_EQ(Attribute(session, objects[0], type), Attribute(session, objects[1], type)) << type;
        }
    }
}

// The utility and the module each set up the GOST engine in one process: nothing may reach
// standard output (the engine prints a line when it is bound a second time).
TEST(StandardEngineOutput, GostWorkInUtilityAndModuleAddsNoOutput)
{
    TempDir dir("standard-engine-");
    const std::string outputFile = dir.Path("stdout.txt");
    std::fflush(stdout);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(10);
        setenv("SOFTTOKEN_STORE", dir.Path("store.db").c_str(), 1);
        CK_FUNCTION_LIST* module = softtoken_test::LoadSharedModule();  // the module's own crypto copy
        if (module == nullptr || module->C_Initialize(nullptr) != CKR_OK) _exit(11);
        Bytes pin = softtoken_test::kDefaultPin;
        CK_UTF8CHAR label[32];
        std::fill(std::begin(label), std::end(label), ' ');
        CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
        if (module->C_InitToken(0, pin.data(), pin.size(), label) != CKR_OK ||
            module->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) != CKR_OK ||
            module->C_Login(session, CKU_USER, pin.data(), pin.size()) != CKR_OK)
            _exit(12);
        Bytes file = ReadFile(ConfFile(kKeyFiles[1].p12)), password = kP12Password;
        if (CStandardCalls::LoadCert(module, session, file.data(), file.size(), password.data(), password.size()) != CKR_OK)
            _exit(13);
        CK_OBJECT_CLASS classes[] = {CKO_PUBLIC_KEY, CKO_PRIVATE_KEY};
        CK_OBJECT_HANDLE keys[2] = {};
        for (int i = 0; i < 2; ++i) {
            CK_ATTRIBUTE query = {CKA_CLASS, &classes[i], sizeof classes[i]};
            CK_ULONG count = 0;
            if (module->C_FindObjectsInit(session, &query, 1) != CKR_OK ||
                module->C_FindObjects(session, &keys[i], 1, &count) != CKR_OK || count != 1 ||
                module->C_FindObjectsFinal(session) != CKR_OK)
                _exit(14);
        }
        Bytes csr;
        if (CreateCsr(module, session, keys[0], keys[1], csr) != CKR_OK) _exit(15);
        module->C_Finalize(nullptr);
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(crypto::test::ReadFile(outputFile), Bytes());
}

}  // namespace
}  // namespace standard_test
