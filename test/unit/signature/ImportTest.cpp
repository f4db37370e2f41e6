// Certificate and PKCS#12 import: which file each operator reads, what reaches the vendor
// entries, and what a missing or unusable file raises.
#include <filesystem>

#include "SignatureTestSupport.h"
#include "support/CustomException.h"

namespace {

fake::Bytes BytesOf(const std::string& text) { return fake::Bytes(text.begin(), text.end()); }

struct ImportCase {
    const char* title;
    bool gost;
    void (CBaseSignatureOperator::*import)();
    const char* file;
    std::string content;
    const char* entry;
    std::vector<fake::Bytes> buffers;   // what the vendor entry must receive
    const char* missingMessage;
};

const std::string kRsaDer = "\x30\x82\x01\x02 rsa der";
const std::string kGostDer = "\x30\x82\x03\x04 gost der";

const ImportCase kCases[] = {
    {"RsaDer", false, &CBaseSignatureOperator::LoadX509CertificateDER, "ca.crt", kRsaDer, "C_KTL_LoadX509Cert",
     {BytesOf(std::string("Test x.509 DER certificate", 27)), {0x3B}, BytesOf(kRsaDer)},
     "Test X.509 DER certificate was not found. Terminating..."},
    {"GostDer", true, &CBaseSignatureOperator::LoadX509CertificateDER, "ca_gost.crt", kGostDer,
     "C_KTL_LoadX509Cert",
     {BytesOf(std::string("Test x.509 DER certificate", 27)), {0x3B}, BytesOf(kGostDer)},
     "Test X.509 DER certificate was not found. Terminating..."},
    {"RsaPem", false, &CBaseSignatureOperator::LoadX509CertificateBase64, "ca.cer",
     "-----BEGIN CERTIFICATE-----\nTWFu\n-----END CERTIFICATE-----\n", "C_KTL_LoadX509Cert",
     {BytesOf(std::string("Test x.509 Base64 certificate", 30)), {0x3B}, BytesOf("Man")},
     "Test X.509 Base64 certificate was not found. Terminating..."},
    {"GostPem", true, &CBaseSignatureOperator::LoadX509CertificateBase64, "ca_gost.cer",
     "-----BEGIN CERTIFICATE-----\r\nR09TVA==\r\n-----END CERTIFICATE-----\r\n", "C_KTL_LoadX509Cert",
     {BytesOf(std::string("Test x.509 Base64 certificate", 30)), {0x3B}, BytesOf("GOST")},
     "Test X.509 Base64 certificate was not found. Terminating..."},
    {"RsaP12", false, &CBaseSignatureOperator::LoadCertificateWithKey, "clientTest2.p12", "rsa p12 bytes",
     "C_KTL_LoadCert", {BytesOf("rsa p12 bytes"), BytesOf("357")},
     "Test file in PKCS#12 format was not found. Terminating..."},
    {"GostP12", true, &CBaseSignatureOperator::LoadCertificateWithKey, "clientGostA.p12", "gost p12 bytes",
     "C_KTL_LoadCert", {BytesOf("gost p12 bytes"), BytesOf("357")},
     "Test file in PKCS#12 format was not found. Terminating..."},
};

class ImportTest : public SignatureOperatorTest, public ::testing::WithParamInterface<ImportCase> {
protected:
    void SetUp() override
    {
        SignatureOperatorTest::SetUp();
        std::filesystem::create_directory(std::filesystem::path(m_dir.Path()) / "conf");
        std::filesystem::create_directory(std::filesystem::path(m_dir.Path()) / "run");
        std::filesystem::current_path(std::filesystem::path(m_dir.Path()) / "run");
    }

    void Run()
    {
        CBaseSignatureOperator& op = GetParam().gost ? static_cast<CBaseSignatureOperator&>(m_gost) : m_rsa;
        (op.*GetParam().import)();
    }

    std::string RunExpectingFailure()
    {
        try {
            Run();
        } catch (const CustomException& e) {
            return e.what();
        }
        return "no exception";
    }

    ScopedWorkDir m_dir;
};

TEST_P(ImportTest, HandsTheFileToTheVendorEntry)
{
    WriteFileBytes(std::string("../conf/") + GetParam().file, GetParam().content);
    ConsoleScript console;

    Run();

    EXPECT_EQ(console.Output(), "");
    EXPECT_EQ(ModuleCallNames(), (std::vector<std::string>{GetParam().entry}));
    const fake::Call& call = fake::Calls().back();
    EXPECT_EQ(call.args, (std::vector<CK_ULONG>{m_session}));
    ASSERT_EQ(call.buffers.size(), GetParam().buffers.size());
    for (std::size_t i = 0; i < call.buffers.size(); ++i) {
        EXPECT_EQ(call.buffers[i], GetParam().buffers[i]) << "buffer " << i;
    }
}

TEST_P(ImportTest, MissingFileStopsBeforeTheModule)
{
    ConsoleScript console;
    EXPECT_EQ(RunExpectingFailure(), GetParam().missingMessage);
    EXPECT_EQ(console.Output(), std::string("Couldn't open file '../conf/") + GetParam().file + "\"\r\nTry again.\r\n");
    EXPECT_TRUE(ModuleCallNames().empty());
}

INSTANTIATE_TEST_SUITE_P(Files, ImportTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ImportCase>& info) { return std::string(info.param.title); });

}  // namespace

TEST_F(SignatureOperatorTest, PemWithoutCertificateIsReportedAsNotFound)
{
    ScopedWorkDir dir;
    std::filesystem::create_directory("conf");
    std::filesystem::create_directory("run");
    std::filesystem::current_path("run");
    WriteFileBytes("../conf/ca.cer", "-----END CERTIFICATE-----\n-----BEGIN CERTIFICATE-----\n");
    ConsoleScript console;
    try {
        m_rsa.LoadX509CertificateBase64();
        FAIL() << "no exception";
    } catch (const CustomException& e) {
        EXPECT_STREQ(e.what(), "Test X.509 Base64 certificate was not found. Terminating...");
    }
    EXPECT_EQ(console.Output(), "");
    EXPECT_TRUE(ModuleCallNames().empty());
}

TEST_F(SignatureOperatorTest, OperationsWithoutATestTouchNeitherModuleNorConsole)
{
    ConsoleScript console;
    m_rsa.GenerateSecretKey();
    m_rsa.StoreSecretKey();
    m_rsa.CalculateAndVerifyMac();
    m_gost.SignAndVerifyWithCertificate();
    ISignatureOperator& gost = m_gost;
    gost.SignAndVerifyWithCertificate();
    EXPECT_EQ(console.Output(), "");
    EXPECT_TRUE(fake::CallNames().empty());
}
