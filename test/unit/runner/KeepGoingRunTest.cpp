// Whole --keep-going runs against the scripted fake module: a token that lacks mechanisms or
// key sizes, a write-protected one, steps failing in the middle of a pass (what follows,
// cleaning and the PIN restore still run), the summary, the status and the JUnit report.
#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <p11-kit/pkcs11.h>

#include "ChildRun.h"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsSubsetOf;
using ::testing::Not;
using Lines = std::vector<std::string>;

// Everything the pass uses, with the sizes the utility asks for.
const char kAllMechanisms[] =
    "mechanism CKM_RSA_PKCS_KEY_PAIR_GEN 512 4096 0x10000\n"
    "mechanism CKM_RSA_PKCS 512 4096 0x2A00\n"
    "mechanism CKM_GOSTR3410_KEY_PAIR_GEN 512 512 0x10000\n"
    "mechanism CKM_GOSTR3410 512 512 0x2800\n"
    "mechanism CKM_GOST28147_KEY_GEN 32 32 0x8000\n"
    "mechanism CKM_GOST28147_MAC 32 32 0x800\n";

const char kRsaOnly[] =
    "mechanism CKM_RSA_PKCS_KEY_PAIR_GEN 512 4096 0x10000\n"
    "mechanism CKM_RSA_PKCS 512 4096 0x2A00\n";

Lines WithPrefix(const std::string& out, const std::string& prefix)
{
    Lines kept;
    for (const std::string& line : SplitLines(out)) {
        if (line.rfind(prefix, 0) == 0) {
            kept.push_back(line);
        }
    }
    return kept;
}

// The console without the timing, which differs from run to run.
Lines Untimed(const std::string& out)
{
    Lines kept;
    for (const std::string& line : SplitLines(out)) {
        if (line.rfind("Time passed: ", 0) != 0) {
            kept.push_back(line);
        }
    }
    return kept;
}

std::string LastLine(const std::string& out)
{
    const Lines lines = SplitLines(out);
    return lines.empty() ? std::string() : lines.back();
}

size_t CountOf(const Lines& lines, const std::string& wanted)
{
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), wanted));
}

// Calls of the log whose mechanism is this one ("mech=0x1200:").
size_t CallsWithMechanism(const Lines& log, const std::string& entry, const std::string& mechanism)
{
    return static_cast<size_t>(std::count_if(log.begin(), log.end(), [&](const std::string& line) {
        return line.rfind(entry + " ", 0) == 0 && line.find("mech=" + mechanism + ":") != std::string::npos;
    }));
}

ChildRun::Result RunOn(ChildRun& child, const std::string& script, const std::vector<std::string>& arguments)
{
    child.Script(HealthyToken() + script);
    return child.Run(arguments);
}

// On a token that can do everything, --keep-going writes today's run and then the summary.
class HealthyKeepGoing : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(HealthyKeepGoing, IsTheSameRunFollowedByTheSummary)
{
    ChildRun plain;
    const ChildRun::Result expected = RunOn(plain, kAllMechanisms, GetParam());
    std::vector<std::string> arguments = GetParam();
    arguments.push_back("--keep-going");
    ChildRun keepGoing;
    const ChildRun::Result result = RunOn(keepGoing, kAllMechanisms, arguments);
    ASSERT_EQ(expected.status, 0) << expected.out;
    EXPECT_EQ(result.status, 0) << result.out;
    Lines lines = Untimed(result.out);
    const auto summary = std::find(lines.begin(), lines.end(), "INFO: Summary of 1 pass:");
    ASSERT_NE(summary, lines.end()) << result.out;
    EXPECT_EQ(summary + 2, lines.end()) << "only the counts follow the summary's first line when all passed";
    EXPECT_THAT(lines.back(), ::testing::MatchesRegex("INFO: Steps passed: [0-9]+, failed: 0, skipped: 0, not run: 0"));
    lines.erase(summary, lines.end());
    EXPECT_EQ(lines, Untimed(expected.out));
}

INSTANTIATE_TEST_SUITE_P(Options, HealthyKeepGoing,
                         ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"--gost"},
                                           std::vector<std::string>{"--gost", "--skip-cert"},
                                           std::vector<std::string>{"--skip-init-token", "--skip-2048"}));

TEST(KeepGoingRun, AllStepsPassCountsEachStepOnce)
{
    ChildRun child;
    const ChildRun::Result result = RunOn(child, kAllMechanisms, {"--keep-going", "--passes=2"});
    EXPECT_EQ(result.status, 0) << result.out;
    // Format, login, 5 certificate steps, 4 + 3 RSA steps, listing, 2 PIN tests, logout,
    // login, cleaning, listing, logout of token: 22 per pass.
    EXPECT_EQ(LastLine(result.out), "INFO: Steps passed: 44, failed: 0, skipped: 0, not run: 0");
    EXPECT_THAT(result.out, HasSubstr("INFO: Summary of 2 passes:\n"));
}

TEST(KeepGoingRun, ATokenWithoutGostSkipsTheGostStepsWithTheirReason)
{
    ChildRun child;
    const ChildRun::Result result = RunOn(child, kRsaOnly, {"--keep-going", "--gost"});
    EXPECT_EQ(result.status, 0) << result.out;
    const Lines info = WithPrefix(result.out, "INFO: ");
    for (const char* line : {
             "INFO: Skipping \"Trying to load test GOST certificate and private key from PKCS#12 file\": the token "
             "lists no mechanism for CKK_GOSTR3410 keys",
             "INFO: Skipping \"Trying to generate GOST key pair\": the token lists no CKM_GOSTR3410_KEY_PAIR_GEN",
             "INFO: Skipping \"Trying to sign and verify data with GOST key\": it needs \"Trying to generate GOST key "
             "pair\", which was skipped",
             "INFO: Skipping \"Trying to generate GOST secret key\": the token lists no CKM_GOST28147_KEY_GEN",
             "INFO: Skipping \"Trying to store GOST secret key\": the token lists no mechanism for CKK_GOST28147 keys",
             "INFO: Skipping \"Trying to calculate and verify MAC with GOST secret key\": it needs \"Trying to store "
             "GOST secret key\", which was skipped",
             "INFO: Skipped in 1 of 1 pass: Trying to generate GOST key pair: the token lists no "
             "CKM_GOSTR3410_KEY_PAIR_GEN",
         }) {
        EXPECT_THAT(info, Contains(line)) << result.out;
    }
    EXPECT_THAT(info, Not(Contains("INFO: Trying to generate GOST key pair")));
    EXPECT_THAT(info, Not(Contains("INFO: MAC is OK")));
    EXPECT_EQ(CallsWithMechanism(result.logLines, "C_GenerateKeyPair", "0x1200"), 0u);
    EXPECT_THAT(result.calls, Not(Contains("C_GenerateKey")));
    // The GOST certificate is no key: it is stored and deleted as usual.
    EXPECT_THAT(info, Contains("INFO: Trying to load test X509 GOST certificate from DER file"));
    // 2 GOST certificate steps, RSA 1024, the rest: 21 passed; PKCS#12, 4 key pair and 5
    // secret key steps skipped.
    EXPECT_EQ(LastLine(result.out), "INFO: Steps passed: 21, failed: 0, skipped: 10, not run: 0");
    EXPECT_THAT(result.out, HasSubstr("INFO: Cleaning token\n"));
}

TEST(KeepGoingRun, AKeySizeTheTokenDoesNotTakeSkipsThatKeyPair)
{
    ChildRun child;
    const ChildRun::Result result =
        RunOn(child, "mechanism CKM_RSA_PKCS_KEY_PAIR_GEN 2048 4096 0x10000\nmechanism CKM_RSA_PKCS 2048 4096 0x2A00\n",
              {"--keep-going"});
    EXPECT_EQ(result.status, 0) << result.out;
    const Lines info = WithPrefix(result.out, "INFO: ");
    EXPECT_THAT(info, Contains("INFO: Skipping \"Trying to generate RSA 1024 key pair\": the token's "
                               "CKM_RSA_PKCS_KEY_PAIR_GEN takes keys of 2048 to 4096 bits, not 1024"));
    EXPECT_THAT(info, Contains("INFO: Skipping \"Trying to generate CSR for RSA key\": it needs \"Trying to "
                               "generate RSA 1024 key pair\", which was skipped"));
    EXPECT_THAT(info, Contains("INFO: Trying to generate RSA 2048 key pair"));
    EXPECT_EQ(CountOf(info, "INFO: Trying to sign and verify data with RSA key"), 1u);
    EXPECT_EQ(LastLine(result.out), "INFO: Steps passed: 18, failed: 0, skipped: 4, not run: 0");
}

TEST(KeepGoingRun, AMechanismWithoutTheFlagTheStepUsesIsSkipped)
{
    ChildRun child;
    const ChildRun::Result result = RunOn(
        child, "mechanism CKM_RSA_PKCS_KEY_PAIR_GEN 512 4096 0x10000\nmechanism CKM_RSA_PKCS 512 4096 0x2000\n",
        {"--keep-going", "--skip-2048"});
    EXPECT_THAT(result.out, HasSubstr("INFO: Skipping \"Trying to sign and verify data with RSA key (RSA 1024)\": "
                                      "the token's CKM_RSA_PKCS lacks CKF_SIGN\n"));
    EXPECT_EQ(result.status, 0);
}

TEST(KeepGoingRun, ATokenThatTellsNoMechanismsSkipsNothing)
{
    ChildRun child;
    const ChildRun::Result result = RunOn(child, "", {"--keep-going", "--gost"});
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_THAT(result.out, HasSubstr("INFO: The token's C_GetMechanismList answered CKR_FUNCTION_NOT_SUPPORTED: no "
                                      "step is skipped for its mechanisms\n"));
    EXPECT_THAT(result.out, HasSubstr("INFO: MAC is OK\n"));
    EXPECT_THAT(LastLine(result.out), HasSubstr("skipped: 0, not run: 0"));
}

TEST(KeepGoingRun, AFailingStepIsReportedAndThePassGoesOn)
{
    ChildRun child;
    const ChildRun::Result result = RunOn(child, std::string(kAllMechanisms) + "fail C_SignInit CKR_FUNCTION_FAILED once\n",
                                          {"--keep-going"});
    EXPECT_EQ(result.status, 2) << result.out;
    const Lines lines = Untimed(result.out);
    const auto failure = std::find(lines.begin(), lines.end(),
                                   "PKCS ERROR in CRsaSignatureOperator::SignAndVerifyWithKey : CKR_FUNCTION_FAILED");
    ASSERT_NE(failure, lines.end()) << result.out;
    // The steps after it, the second sign included, the cleaning and the end of the pass.
    const Lines after(failure + 1, lines.end());
    const Lines expectedAfter = {"INFO: Trying to generate CSR for RSA key", "INFO: Trying to delete RSA key pair",
                                 "INFO: Trying to generate RSA 2048 key pair",
                                 "INFO: Trying to sign and verify data with RSA key",
                                 "INFO: Trying to change user PIN", "INFO: Trying to change SO PIN",
                                 "INFO: Cleaning token", "INFO: Logging out of token"};
    EXPECT_THAT(expectedAfter, IsSubsetOf(after)) << result.out;
    EXPECT_THAT(lines, Contains("ERROR: Failed in 1 of 1 pass: Trying to sign and verify data with RSA key (RSA 1024): "
                                "PKCS ERROR in CRsaSignatureOperator::SignAndVerifyWithKey : CKR_FUNCTION_FAILED"));
    EXPECT_EQ(LastLine(result.out), "INFO: Steps passed: 21, failed: 1, skipped: 0, not run: 0");
    EXPECT_EQ(result.calls.back(), "C_Finalize");
}

TEST(KeepGoingRun, StepsNeedingWhatFailedAreNotRunAndCleaningRemovesTheRest)
{
    ChildRun child;
    // The first certificate import fails; the key pair generation fails once.
    const ChildRun::Result result = RunOn(child,
                                          std::string(kAllMechanisms) +
                                              "fail C_KTL_LoadX509Cert CKR_DEVICE_MEMORY once\n"
                                              "fail C_GenerateKeyPair CKR_DEVICE_ERROR once\n",
                                          {"--keep-going"});
    EXPECT_EQ(result.status, 2) << result.out;
    const Lines info = WithPrefix(result.out, "INFO: ");
    EXPECT_THAT(info, Contains("INFO: Not running \"Trying to delete test X509 RSA certificate (Base64)\": it needs "
                               "\"Trying to load test X509 RSA certificate from Base64 file\", which failed"));
    EXPECT_THAT(info, Contains("INFO: Trying to load test X509 RSA certificate from DER file"));
    for (const char* step : {"Trying to sign and verify data with RSA key (RSA 1024)", "Trying to generate CSR for RSA key",
                             "Trying to delete RSA key pair (RSA 1024)"}) {
        EXPECT_THAT(info, Contains(std::string("INFO: Not running \"") + step +
                                   "\": it needs \"Trying to generate RSA 1024 key pair\", which failed"));
        EXPECT_THAT(info, Contains(std::string("INFO: Not run in 1 of 1 pass: ") + step +
                                   ": it needs \"Trying to generate RSA 1024 key pair\", which failed"));
    }
    EXPECT_THAT(result.out, HasSubstr("PKCS ERROR in CRsaSignatureOperator::GenerateKeyPair : CKR_DEVICE_ERROR\n"));
    EXPECT_THAT(info, Contains("INFO: Trying to generate RSA 2048 key pair"));
    EXPECT_THAT(result.out, HasSubstr("INFO: Cleaning token\nToken contains 0 objects.\r\n"));
    EXPECT_EQ(LastLine(result.out), "INFO: Steps passed: 16, failed: 2, skipped: 0, not run: 4");
}

TEST(KeepGoingRun, AFailedPinChangeIsSetBackAndCleaningStillRuns)
{
    ChildRun child;
    // The user PIN's change back to the default fails once; the restore's change works.
    const ChildRun::Result result =
        RunOn(child, std::string(kAllMechanisms) + "fail C_SetPIN CKR_DEVICE_ERROR from 2 once\n", {"--keep-going"});
    EXPECT_EQ(result.status, 2) << result.out;
    EXPECT_THAT(result.out, HasSubstr("PKCS ERROR in CTokenOperator::ChangePin : CKR_DEVICE_ERROR\n"));
    EXPECT_THAT(result.out, HasSubstr("INFO: The user PIN was the temporary PIN 26074913 when the test failed; it is "
                                      "back to the default PIN 52816037\n"));
    EXPECT_THAT(result.out, HasSubstr("INFO: Not running \"Trying to change SO PIN\": it needs \"Trying to change "
                                      "user PIN\", which failed\n"));
    // The logout before cleaning has no login it can count on; cleaning logs in anew.
    EXPECT_THAT(result.out, HasSubstr("INFO: Not running \"Logging out before cleaning\": it needs \"Trying to "
                                      "change SO PIN\", which was not run\n"));
    EXPECT_THAT(result.out, HasSubstr("INFO: Cleaning token\nToken contains 0 objects.\r\n"));
    EXPECT_EQ(CountOf(result.calls, "C_SetPIN"), 3u);
    EXPECT_EQ(LastLine(result.out), "INFO: Steps passed: 19, failed: 1, skipped: 0, not run: 2");
}

TEST(KeepGoingRun, AWriteProtectedTokenSkipsEveryStepThatWrites)
{
    ChildRun child;
    const ChildRun::Result result =
        RunOn(child, std::string(kAllMechanisms) + "flags " + std::to_string(CKF_WRITE_PROTECTED | CKF_TOKEN_INITIALIZED) +
                         "\n",
              {"--keep-going"});
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_THAT(result.out, HasSubstr("INFO: Skipping \"Trying to perform init token using default PIN\": the token is "
                                      "write-protected (CKF_WRITE_PROTECTED)\n"));
    EXPECT_THAT(result.out, HasSubstr("INFO: Skipping \"Logging in using default PIN\": the token is write-protected "
                                      "(CKF_WRITE_PROTECTED)\n"));
    EXPECT_THAT(result.out, HasSubstr("INFO: Skipping \"Getting list of objects on token\": it needs \"Logging in "
                                      "using default PIN\", which was skipped\n"));
    EXPECT_THAT(result.calls, Not(Contains("C_InitToken")));
    EXPECT_THAT(result.calls, Not(Contains("C_Login")));
    EXPECT_THAT(result.calls, Not(Contains("C_OpenSession")));
    EXPECT_EQ(LastLine(result.out), "INFO: Steps passed: 1, failed: 0, skipped: 21, not run: 0");
}

TEST(KeepGoingRun, APinAtRiskStillEndsTheRun)
{
    ChildRun child;
    const ChildRun::Result result = RunOn(
        child,
        std::string(kAllMechanisms) + "flags " +
            std::to_string(CKF_TOKEN_INITIALIZED | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_USER_PIN_LOCKED) +
            "\n",
        {"--keep-going", "--skip-init-token"});
    EXPECT_EQ(result.status, 4) << result.out;
    EXPECT_THAT(result.out, Not(HasSubstr("Summary")));
    EXPECT_THAT(result.calls, Not(Contains("C_Login")));
}

TEST(KeepGoingRun, ARefusedPinEndsTheRunAfterTheSummary)
{
    ChildRun child;
    const ChildRun::Result result = RunOn(child, std::string(kAllMechanisms) + "pin user 11111111\n",
                                          {"--keep-going", "--skip-init-token", "--passes=2"});
    EXPECT_EQ(result.status, 255) << result.out;
    EXPECT_EQ(CountOf(result.calls, "C_Login"), 1u);
    EXPECT_THAT(result.out, Not(HasSubstr("Pass #2")));
    EXPECT_THAT(result.out, HasSubstr("ERROR: Failed in 1 of 1 pass: Logging in using default PIN: the token refused "
                                      "the default PIN\n"));
    EXPECT_EQ(LastLine(result.out), "INFO: Steps passed: 0, failed: 1, skipped: 0, not run: 20");
}

// The JUnit report of a --keep-going run: one testcase per step, failures and skips.
TEST(KeepGoingRun, JunitReportHasEveryStepWithItsVerdict)
{
    ChildRun child;
    const std::string path = child.Root() + "/report.xml";
    const ChildRun::Result result =
        RunOn(child, std::string(kRsaOnly) + "fail C_SignInit CKR_FUNCTION_FAILED once\n",
              {"--keep-going", "--gost", "--junit=" + path});
    EXPECT_EQ(result.status, 2) << result.out;
    for (const char* schema : {JUNIT_XSD, JUNIT_COMMON_XSD}) {
        const std::string command = std::string(XMLLINT) + " --noout --schema " + schema + " " + path;
        EXPECT_EQ(std::system(command.c_str()), 0) << schema;
    }
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.LoadFile(path.c_str()), tinyxml2::XML_SUCCESS);
    const tinyxml2::XMLElement* suite = document.RootElement()->FirstChildElement("testsuite");
    ASSERT_NE(suite, nullptr);
    EXPECT_EQ(suite->IntAttribute("tests"), 31);
    EXPECT_EQ(suite->IntAttribute("failures"), 1);
    EXPECT_EQ(suite->IntAttribute("skipped"), 10);
    int cases = 0;
    for (const tinyxml2::XMLElement* testcase = suite->FirstChildElement("testcase"); testcase != nullptr;
         testcase = testcase->NextSiblingElement("testcase")) {
        ++cases;
        const std::string name = testcase->Attribute("name");
        if (name == "Trying to sign and verify data with RSA key (RSA 1024)") {
            ASSERT_NE(testcase->FirstChildElement("failure"), nullptr);
            EXPECT_STREQ(testcase->FirstChildElement("failure")->Attribute("message"),
                         "PKCS ERROR in CRsaSignatureOperator::SignAndVerifyWithKey : CKR_FUNCTION_FAILED");
        } else if (name == "Trying to generate GOST key pair") {
            ASSERT_NE(testcase->FirstChildElement("skipped"), nullptr);
            EXPECT_STREQ(testcase->FirstChildElement("skipped")->Attribute("message"),
                         "the token lists no CKM_GOSTR3410_KEY_PAIR_GEN");
        } else if (name == "Logging in again for cleaning") {
            EXPECT_EQ(testcase->FirstChildElement(), nullptr);
        }
    }
    EXPECT_EQ(cases, 31);
}

}  // namespace
