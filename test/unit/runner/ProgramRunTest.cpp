// Whole runs of the tokentest binary against the scripted fake module: the pass sequence for
// each option combination, the pass loop, the exit statuses and the failure report.
#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ChildRun.h"

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using Lines = std::vector<std::string>;

// The last line, or nothing when there is none.
std::string Last(const Lines& lines) { return lines.empty() ? std::string() : lines.back(); }

// The step lines of the run: what went through a Logger.
Lines LoggedLines(const std::string& out)
{
    Lines logged;
    for (const std::string& line : SplitLines(out)) {
        if (line.rfind("INFO: ", 0) == 0 || line.rfind("ERROR: ", 0) == 0) {
            logged.push_back(line);
        }
    }
    return logged;
}

// Module calls that change or use the token, without the status queries and searches
// that surround them.
Lines TokenCalls(const Lines& calls)
{
    static const Lines kQuiet = {"C_GetTokenInfo",    "C_GetSlotInfo", "C_GetSlotList",      "C_FindObjectsInit",
                                 "C_FindObjectsFinal", "C_FindObjects", "C_GetAttributeValue"};
    Lines kept;
    for (const std::string& call : calls) {
        if (std::find(kQuiet.begin(), kQuiet.end(), call) == kQuiet.end()) {
            kept.push_back(call);
        }
    }
    return kept;
}

Lines Join(std::initializer_list<Lines> parts)
{
    Lines joined;
    for (const Lines& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

// Step lines of the groups of one pass.
const Lines kInitStep = {"INFO: Trying to perform init token using default PIN"};
const Lines kSkipInitStep = {"INFO: Skipping token initialization"};
const Lines kLoginStep = {"INFO: Logging in using default PIN"};
const Lines kRsaCertSteps = {"INFO: Trying to load test RSA certificate and private key from PKCS#12 file",
                             "INFO: Trying to load test X509 RSA certificate from Base64 file",
                             "INFO: Trying to delete test X509 RSA certificate",
                             "INFO: Trying to load test X509 RSA certificate from DER file",
                             "INFO: Trying to delete test X509 RSA certificate"};
const Lines kRsa1024Steps = {"INFO: Trying to generate RSA 1024 key pair",
                             "INFO: Trying to sign and verify data with RSA key",
                             "INFO: Trying to generate CSR for RSA key", "INFO: Trying to delete RSA key pair"};
const Lines kRsa2048Steps = {"INFO: Trying to generate RSA 2048 key pair",
                             "INFO: Trying to sign and verify data with RSA key",
                             "INFO: Trying to delete RSA key pair"};
const Lines kGostCertSteps = {"INFO: Trying to load test GOST certificate and private key from PKCS#12 file",
                              "INFO: Trying to load test X509 GOST certificate from DER file",
                              "INFO: Trying to delete test X509 GOST certificate"};
const Lines kGostSteps = {"INFO: Trying to generate GOST key pair",
                          "INFO: Trying to sign and verify data with GOST key",
                          "INFO: Trying to generate GOST CSR",
                          "INFO: Trying to delete GOST key pair",
                          "INFO: Trying to generate GOST secret key",
                          "INFO: Trying to delete GOST secret key",
                          "INFO: Trying to store GOST secret key",
                          "INFO: Trying to calculate and verify MAC with GOST secret key",
                          "INFO: MAC is OK",
                          "INFO: Trying to delete GOST secret key"};
const Lines kPinChangeLines = {"INFO: Logging in with default PIN", "INFO: Trying to login with new PIN",
                               "INFO: Trying to change PIN back to default", "INFO: Trying to login with default PIN"};
const Lines kTailSteps = Join({{"INFO: Getting list of objects on token", "INFO: Trying to change user PIN"},
                               kPinChangeLines,
                               {"INFO: Trying to change SO PIN"},
                               kPinChangeLines,
                               {"INFO: Cleaning token", "INFO: Logging out of token"}});

// Module calls of the same groups, as TokenCalls keeps them.
const Lines kInitCalls = {"C_InitToken"};
const Lines kLoginCalls = {"C_OpenSession", "C_Login"};
const Lines kRsaCertCalls = {"C_KTL_LoadCert", "C_KTL_LoadX509Cert", "C_DestroyObject", "C_KTL_LoadX509Cert",
                             "C_DestroyObject"};
const Lines kRsaSignCalls = {"C_SignInit", "C_Sign", "C_Sign", "C_VerifyInit", "C_Verify"};
const Lines kRsa1024Calls = Join({{"C_GenerateKeyPair"}, kRsaSignCalls, {"C_KTL_CreateCSR", "C_KTL_CreateCSR"},
                                  {"C_DestroyObject", "C_DestroyObject"}});
const Lines kRsa2048Calls = Join({{"C_GenerateKeyPair"}, kRsaSignCalls, {"C_DestroyObject", "C_DestroyObject"}});
const Lines kGostCertCalls = {"C_KTL_LoadCert", "C_KTL_LoadX509Cert", "C_DestroyObject"};
const Lines kGostCalls = {
    "C_GenerateKeyPair", "C_SignInit",      "C_Sign",          "C_Sign",         "C_VerifyInit",    "C_Verify",
    "C_KTL_CreateCSR",   "C_KTL_CreateCSR", "C_DestroyObject", "C_DestroyObject", "C_GenerateKey", "C_DestroyObject",
    "C_CreateObject",    "C_SignInit",      "C_Sign",          "C_Sign",          "C_DestroyObject"};
const Lines kPinChangeCalls = {"C_Logout", "C_OpenSession", "C_Login", "C_SetPIN", "C_Logout", "C_OpenSession",
                               "C_Login",  "C_SetPIN",      "C_Logout", "C_OpenSession", "C_Login"};
// Cleaning destroys what the PKCS#12 imports left: a certificate and a private key each.
Lines TailCalls(int imports)
{
    return Join({kPinChangeCalls, kPinChangeCalls, {"C_Logout"}, kLoginCalls, Lines(2 * imports, "C_DestroyObject"),
                 {"C_CloseAllSessions"}});
}

struct SequenceCase {
    std::string name;
    Lines arguments;
    Lines steps;   // logged lines of the pass
    Lines calls;   // module calls of the pass
    std::string err = "";
};

void PrintTo(const SequenceCase& c, std::ostream* out) { *out << c.name; }

class PassSequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(PassSequence, RunsTheSelectedStepsInOrder)
{
    const SequenceCase& expected = GetParam();
    ChildRun child;
    child.Script(HealthyToken());
    const ChildRun::Result result = child.Run(expected.arguments);
    ASSERT_EQ(result.status, 0) << result.out << result.err;

    EXPECT_THAT(LoggedLines(result.out),
                ElementsAreArray(Join({{"INFO: Performing tests 1 times..."}, expected.steps})));
    EXPECT_THAT(TokenCalls(result.calls),
                ElementsAreArray(Join({{"C_GetFunctionList", "C_Initialize"},
                                       expected.calls,
                                       {"C_CloseAllSessions", "C_Finalize"}})));
    EXPECT_EQ(result.err, expected.err);
}


INSTANTIATE_TEST_SUITE_P(
    Options, PassSequence,
    ::testing::Values(
        SequenceCase{"Defaults",
                     {},
                     Join({kInitStep, kLoginStep, kRsaCertSteps, kRsa1024Steps, kRsa2048Steps, kTailSteps}),
                     Join({kInitCalls, kLoginCalls, kRsaCertCalls, kRsa1024Calls, kRsa2048Calls, TailCalls(1)})},
        SequenceCase{"Gost",
                     {"--gost"},
                     Join({kInitStep, kLoginStep, kRsaCertSteps, kRsa1024Steps, kGostCertSteps, kGostSteps,
                           kTailSteps}),
                     Join({kInitCalls, kLoginCalls, kRsaCertCalls, kRsa1024Calls, kGostCertCalls, kGostCalls,
                           TailCalls(2)})},
        SequenceCase{"GostSkip2048",
                     {"--gost", "--skip-2048"},
                     Join({kInitStep, kLoginStep, kRsaCertSteps, kRsa1024Steps, kGostCertSteps, kGostSteps,
                           kTailSteps}),
                     Join({kInitCalls, kLoginCalls, kRsaCertCalls, kRsa1024Calls, kGostCertCalls, kGostCalls,
                           TailCalls(2)})},
        SequenceCase{"SkipCertGost",
                     {"--skip-cert", "--gost"},
                     Join({kInitStep, kLoginStep, kRsa1024Steps, kGostSteps, kTailSteps}),
                     Join({kInitCalls, kLoginCalls, kRsa1024Calls, kGostCalls, TailCalls(0)})},
        SequenceCase{"SkipInitToken",
                     {"--skip-init-token"},
                     Join({kSkipInitStep, kLoginStep, kRsaCertSteps, kRsa1024Steps, kRsa2048Steps, kTailSteps}),
                     Join({kLoginCalls, kRsaCertCalls, kRsa1024Calls, kRsa2048Calls, TailCalls(1)})},
        SequenceCase{"Skip2048",
                     {"--skip-2048"},
                     Join({kInitStep, kLoginStep, kRsaCertSteps, kRsa1024Steps, kTailSteps}),
                     Join({kInitCalls, kLoginCalls, kRsaCertCalls, kRsa1024Calls, TailCalls(1)})},
        SequenceCase{"SkipCert",
                     {"--skip-cert"},
                     Join({kInitStep, kLoginStep, kRsa1024Steps, kRsa2048Steps, kTailSteps}),
                     Join({kInitCalls, kLoginCalls, kRsa1024Calls, kRsa2048Calls, TailCalls(0)})},
        SequenceCase{"MistypedOptionsChangeNothing",
                     {"--Passes=3", "--gost=1", "-gost"},
                     Join({kInitStep, kLoginStep, kRsaCertSteps, kRsa1024Steps, kRsa2048Steps, kTailSteps}),
                     Join({kInitCalls, kLoginCalls, kRsaCertCalls, kRsa1024Calls, kRsa2048Calls, TailCalls(1)}),
                     "ignoring unknown argument \"--Passes=3\"\nignoring unknown argument \"--gost=1\"\n"
                     "ignoring unknown argument \"-gost\"\n"}),
    [](const ::testing::TestParamInfo<SequenceCase>& info) { return info.param.name; });

// --- Loop and statuses --------------------------------------------------------------------

TEST(ProgramRun, ZeroPassesChoosesTheSlotAndStops)
{
    ChildRun child;
    child.Script(HealthyToken());
    const ChildRun::Result result = child.Run({"--passes=0"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "INFO: Performing tests 0 times...\nSelected slot: Fake reader\r\n");
    EXPECT_THAT(TokenCalls(result.calls),
                ElementsAre("C_GetFunctionList", "C_Initialize", "C_CloseAllSessions", "C_Finalize"));
}

TEST(ProgramRun, NegativePassCountRunsNothing)
{
    ChildRun child;
    child.Script(HealthyToken());
    const ChildRun::Result result = child.Run({"--passes=-4"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "INFO: Performing tests -4 times...\nSelected slot: Fake reader\r\n");
}

TEST(ProgramRun, ThreePassesEachWithHeaderAndTiming)
{
    ChildRun child;
    child.Script(HealthyToken());
    const ChildRun::Result result = child.Run({"--passes=-4", "--passes=3", "--skip-cert", "--skip-2048"});
    ASSERT_EQ(result.status, 0) << result.out;
    Lines frame;
    const std::regex timing("Time passed: [0-9.e+-]+");
    for (const std::string& line : SplitLines(result.out)) {
        if (line.rfind("----------", 0) == 0) {
            frame.push_back(line);
        } else if (line.rfind("Time passed: ", 0) == 0) {
            EXPECT_TRUE(std::regex_match(line, timing)) << line;
            frame.push_back("Time passed: ");
        } else if (line == kInitStep[0] || line == "INFO: Logging out of token") {
            frame.push_back(line);
        }
    }
    Lines expected;
    for (const char* header : {"---------- Pass #1 ----------", "---------- Pass #2 ----------",
                               "---------- Pass #3 ----------"}) {
        expected.insert(expected.end(), {header, kInitStep[0], "INFO: Logging out of token", "Time passed: "});
    }
    EXPECT_EQ(frame, expected);
    EXPECT_EQ(std::count(result.calls.begin(), result.calls.end(), "C_Initialize"), 1);
    EXPECT_EQ(std::count(result.calls.begin(), result.calls.end(), "C_InitToken"), 3);
}

TEST(ProgramRun, RefusedDefaultPinInSecondPassEndsWith255)
{
    ChildRun child;
    // Each pass logs in eight times; the ninth login is the first of pass 2.
    child.Script(HealthyToken() + "fail C_Login CKR_PIN_INCORRECT from 9 once\n");
    const ChildRun::Result result = child.Run({"--passes=3", "--skip-cert", "--skip-2048"});
    EXPECT_EQ(result.status, 255);
    const Lines lines = SplitLines(result.out);
    const auto pass2 = std::find(lines.begin(), lines.end(), "---------- Pass #2 ----------");
    ASSERT_NE(pass2, lines.end()) << result.out;
    const auto isTiming = [](const std::string& l) { return l.rfind("Time passed: ", 0) == 0; };
    EXPECT_EQ(std::count_if(lines.begin(), pass2, isTiming), 1);
    EXPECT_THAT(Lines(pass2, lines.end()),
                ElementsAre("---------- Pass #2 ----------", "INFO: Trying to perform init token using default PIN",
                            "INFO: Logging in using default PIN", "Incorrect PIN",
                            "ERROR: Can not authenticate into token using default PIN.",
                            "ERROR: the module answered C_Login (CKU_USER) with CKR_PIN_INCORRECT",
                            "ERROR: the token refused the user PIN; give the right one with --pin=PIN or the "
                            "environment variable TOKENTEST_PIN"));
    EXPECT_THAT(result.calls, ::testing::Contains("C_Finalize"));
    EXPECT_EQ(Last(result.calls), "C_Finalize");
}

TEST(ProgramRun, RefusedDefaultPinAfterCleaningLoginEndsWith255)
{
    ChildRun child;
    // Login 8 is the one before cleaning.
    child.Script(HealthyToken() + "fail C_Login CKR_PIN_INCORRECT from 8 once\n");
    const ChildRun::Result result = child.Run({"--skip-cert", "--skip-2048"});
    EXPECT_EQ(result.status, 255);
    EXPECT_THAT(result.out, HasSubstr("ERROR: Can not authenticate into token using default PIN.\n"
                                      "ERROR: the module answered C_Login (CKU_USER) with CKR_PIN_INCORRECT\n"));
    EXPECT_THAT(result.out, ::testing::Not(HasSubstr("Cleaning token")));
    EXPECT_THAT(result.out, ::testing::Not(HasSubstr("Time passed: ")));
}

TEST(ProgramRun, ModuleErrorIsReportedAfterTheModuleIsFinalized)
{
    ChildRun child;
    child.Script(HealthyToken() + "fail C_GenerateKeyPair CKR_DEVICE_ERROR\n");
    child.LogIntoOutput();
    const ChildRun::Result result = child.Run({"--skip-cert"});
    EXPECT_EQ(result.status, 2);
    const Lines lines = SplitLines(result.out);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(Last(lines), "ERROR: the module answered C_GenerateKeyPair (CKM_RSA_PKCS_KEY_PAIR_GEN) with "
                           "CKR_DEVICE_ERROR");
    EXPECT_EQ(lines[lines.size() - 2], "PKCS ERROR in CRsaSignatureOperator::GenerateKeyPair : CKR_DEVICE_ERROR");
    EXPECT_THAT(lines[lines.size() - 3], StartsWith("C_Finalize "));
    EXPECT_THAT(lines[lines.size() - 4], StartsWith("C_CloseAllSessions "));
    const auto isFinalize = [](const std::string& l) { return l.rfind("C_Finalize ", 0) == 0; };
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), isFinalize), 1);
}

TEST(ProgramRun, FileErrorIsReportedAsStdException)
{
    ChildRun child;
    child.Script(HealthyToken());
    std::filesystem::remove(child.Root() + "/conf/clientTest2.p12");
    const ChildRun::Result result = child.Run({});
    EXPECT_EQ(result.status, 2);
    const Lines lines = SplitLines(result.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(Last(lines), "ERROR: std::exception caught: Test file in PKCS#12 format was not found. Terminating...");
    // The test files are read before the module is loaded.
    EXPECT_TRUE(result.calls.empty());
}

TEST(ProgramRun, FailingInitializeLeavesNothingToFinalize)
{
    ChildRun child;
    child.Script(HealthyToken() + "fail C_Initialize CKR_CRYPTOKI_ALREADY_INITIALIZED\n");
    const ChildRun::Result result = child.Run({});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "INFO: Performing tests 1 times...\n"
                          "PKCS ERROR in CTokenOperator::CTokenOperator : CKR_CRYPTOKI_ALREADY_INITIALIZED\n"
                          "ERROR: the module answered C_Initialize with CKR_CRYPTOKI_ALREADY_INITIALIZED\n");
    EXPECT_THAT(result.calls, ElementsAre("C_GetFunctionList", "C_Initialize"));
}

TEST(ProgramRun, NoTokenEndsWith3)
{
    ChildRun child;
    child.Script("slot 1 absent Empty reader\n");
    const ChildRun::Result result = child.Run({"--passes=2"});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "INFO: Performing tests 2 times...\n"
                          "ERROR: No tokens available. Please insert one. Terminating...\n");
    EXPECT_EQ(Last(result.calls), "C_Finalize");
}

TEST(ProgramRun, MissingModuleEndsWith1AndTheLoaderText)
{
    ChildRun child;
    child.WithoutModule();
    const ChildRun::Result result = child.Run({});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "INFO: Performing tests 1 times...\n");
    EXPECT_THAT(result.err, StartsWith("libnimb_pkcs11_main.so: cannot open shared object file"));
    EXPECT_TRUE(!result.err.empty() && result.err.back() == '\n');
}

TEST(ProgramRun, HelpPrintsUsageWithoutLoadingTheModule)
{
    for (const char* option : {"--help", "-h"}) {
        ChildRun child;
        child.Script(HealthyToken());
        const ChildRun::Result result = child.Run({"--gost", option});
        EXPECT_EQ(result.status, 0);
        EXPECT_THAT(result.out, StartsWith("Usage: tokentest"));
        EXPECT_THAT(result.out, HasSubstr("--skip-init-token"));
        EXPECT_THAT(result.out, HasSubstr("255"));
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(result.calls.empty());
    }
}

TEST(ProgramRun, UnknownArgumentsAreNamedOnStandardErrorOnly)
{
    ChildRun child;
    child.Script(HealthyToken());
    const ChildRun::Result result = child.Run({"--skip-init-tokn", "--passes=0", "--SKIP-CERT"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "ignoring unknown argument \"--skip-init-tokn\"\n"
                          "ignoring unknown argument \"--SKIP-CERT\"\n");
    EXPECT_EQ(result.out, "INFO: Performing tests 0 times...\nSelected slot: Fake reader\r\n");
}

}  // namespace
