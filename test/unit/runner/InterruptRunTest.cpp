// Signals during whole runs against the scripted fake module: the fake raises the signal in
// the middle of a module call, the call finishes, the run stops before its next step, puts a
// temporary PIN back, tears down, reports and ends with 128 + the signal.
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ChildRun.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const char kDefaultPinHex[] = "3532383136303337";     // 52816037
const char kTemporaryPinHex[] = "3236303734393133";   // 26074913

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> LinesOf(const std::vector<std::string>& logLines, const std::string& entry)
{
    std::vector<std::string> found;
    for (const std::string& line : logLines) {
        if (line.rfind(entry + " ", 0) == 0) found.push_back(line);
    }
    return found;
}

bool HasJournal(const ChildRun& run)
{
    for (const auto& entry : std::filesystem::directory_iterator(run.StateDirectory())) {
        if (entry.path().extension() == ".pin-journal") return true;
    }
    return false;
}

std::string LastLine(const std::string& text)
{
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\n') trimmed.pop_back();
    return trimmed.substr(trimmed.rfind('\n') + 1);
}

// The third C_SetPIN of a default pass sets the SO PIN to the temporary one.
const char kAfterSoPinChange[] = "signal C_SetPIN 3 ";
// The first sets the user PIN to the temporary one.
const char kAfterUserPinChange[] = "signal C_SetPIN 1 ";

struct InterruptCase {
    const char* name;
    const char* after;
    int signalNumber;
    const char* restoreLine;
};

void PrintTo(const InterruptCase& c, std::ostream* out) { *out << c.name; }

class InterruptAtPinChange : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(InterruptAtPinChange, PutsThePinBackTearsDownReportsAndEndsWithTheSignalsStatus)
{
    const InterruptCase& c = GetParam();
    ChildRun run;
    run.Script(HealthyToken() + c.after + std::to_string(c.signalNumber) + "\n");
    const ChildRun::Result result = run.Run({"--skip-cert", "--junit=report.xml"});

    EXPECT_EQ(result.status, 128 + c.signalNumber) << result.out << result.err;
    EXPECT_EQ(LastLine(result.out), "ERROR: interrupted by signal " + std::to_string(c.signalNumber));
    EXPECT_THAT(result.out, HasSubstr(std::string("INFO: ") + c.restoreLine + "\n"));
    // No further step: the login with the temporary PIN never came.
    const std::string afterStep = result.out.substr(result.out.rfind("Logging in with default PIN"));
    EXPECT_THAT(afterStep, Not(HasSubstr("Trying to login with new PIN")));
    EXPECT_THAT(result.out, Not(HasSubstr("Cleaning token")));
    // The PIN went back with one change from the temporary PIN, then the teardown.
    const std::vector<std::string> changes = LinesOf(result.logLines, "C_SetPIN");
    ASSERT_FALSE(changes.empty());
    EXPECT_THAT(changes.back(), HasSubstr(std::string("rv=CKR_OK")));
    EXPECT_THAT(changes.back(), HasSubstr(std::string(kTemporaryPinHex) + "," + kDefaultPinHex));
    ASSERT_GE(result.calls.size(), 2u);
    EXPECT_EQ(result.calls[result.calls.size() - 2], "C_CloseAllSessions");
    EXPECT_EQ(result.calls.back(), "C_Finalize");
    EXPECT_THAT(ReadFile(run.Root() + "/run/report.xml"), HasSubstr("<failure message=\"interrupted\""));
    // The PIN is back: nothing is left for the next run to recover.
    EXPECT_FALSE(HasJournal(run));
}

INSTANTIATE_TEST_SUITE_P(
    Signals, InterruptAtPinChange,
    ::testing::Values(
        InterruptCase{"SigintAtSoPin", kAfterSoPinChange, SIGINT,
                      "The SO PIN was the temporary PIN 26074913 when the test failed; it is back to the default PIN "
                      "52816037"},
        InterruptCase{"SigtermAtSoPin", kAfterSoPinChange, SIGTERM,
                      "The SO PIN was the temporary PIN 26074913 when the test failed; it is back to the default PIN "
                      "52816037"},
        InterruptCase{"SighupAtUserPin", kAfterUserPinChange, SIGHUP,
                      "The user PIN was the temporary PIN 26074913 when the test failed; it is back to the default PIN "
                      "52816037"}),
    [](const ::testing::TestParamInfo<InterruptCase>& info) { return std::string(info.param.name); });

TEST(InterruptRun, ASignalOutsideAPinChangeStopsBeforeTheNextStep)
{
    ChildRun run;
    run.Script(HealthyToken() + "signal C_GenerateKeyPair 1 2\n");
    const ChildRun::Result result = run.Run({"--skip-cert", "--junit=report.xml"});

    EXPECT_EQ(result.status, 130);
    // The key pair step finished; the next one never started.
    EXPECT_THAT(result.out, HasSubstr("INFO: Trying to generate RSA 1024 key pair\nERROR: interrupted by signal 2\n"));
    EXPECT_EQ(LinesOf(result.logLines, "C_SignInit").size(), 0u);
    EXPECT_EQ(result.calls.back(), "C_Finalize");
    const std::string report = ReadFile(run.Root() + "/run/report.xml");
    EXPECT_THAT(report, HasSubstr("name=\"Trying to generate RSA 1024 key pair\" classname=\"tokentest.pass1\""));
    EXPECT_THAT(report, HasSubstr("<failure message=\"interrupted\""));
}

TEST(InterruptRun, ASecondSignalEndsTheProcessAtOnceAndTheNextRunRecovers)
{
    ChildRun run;
    run.Script(HealthyToken() + kAfterSoPinChange + "2 2\n");
    const ChildRun::Result killed = run.Run({"--skip-cert"});
    EXPECT_EQ(killed.status, 130);
    EXPECT_THAT(killed.out, Not(HasSubstr("interrupted")));
    EXPECT_NE(killed.calls.back(), "C_Finalize");
    EXPECT_TRUE(HasJournal(run));

    // The fake forgets its token between runs: script the token the killed run left.
    run.Script(HealthyToken() + "pin so 26074913\nlabel KORVEL Token\n");
    const ChildRun::Result next = run.Run({"--skip-cert"});
    EXPECT_EQ(next.status, 0) << next.out;
    EXPECT_THAT(next.out, HasSubstr("Selected slot: Fake reader\r\n"
                                    "INFO: An earlier run left the SO PIN at the temporary PIN 26074913; it is back to "
                                    "the default PIN 52816037\n---------- Pass #1 ----------\n"));
    // One login with the temporary PIN and the change back, before the token is formatted.
    const std::vector<std::string>& calls = next.calls;
    const auto format = std::find(calls.begin(), calls.end(), "C_InitToken");
    const auto change = std::find(calls.begin(), calls.end(), "C_SetPIN");
    EXPECT_LT(change - calls.begin(), format - calls.begin());
    EXPECT_THAT(LinesOf(next.logLines, "C_SetPIN").front(),
                HasSubstr(std::string(kTemporaryPinHex) + "," + kDefaultPinHex));
    EXPECT_FALSE(HasJournal(run));
}

TEST(InterruptRun, ASignalAtTheSlotPromptEndsTheRunBeforeAnyTokenIsChosen)
{
    ChildRun run;
    // The second C_GetTokenInfo reads the last slot of the prompt's list.
    run.Script("slot 1 present Reader A\nslot 2 present Reader B\nsignal C_GetTokenInfo 2 2\n");
    const ChildRun::Result result = run.Run({});
    EXPECT_EQ(result.status, 130);
    EXPECT_THAT(result.out, HasSubstr("Please enter slot number: \nERROR: interrupted by signal 2\n"));
    EXPECT_THAT(result.out, Not(HasSubstr("end of input")));
    EXPECT_EQ(LinesOf(result.logLines, "C_InitToken").size(), 0u);
    EXPECT_EQ(result.calls.back(), "C_Finalize");
}

TEST(InterruptRun, ASignalTheParentIgnoredStaysIgnored)
{
    ChildRun run;
    run.IgnoreSignal(SIGINT);
    run.Script(HealthyToken() + kAfterSoPinChange + "2\n");
    const ChildRun::Result result = run.Run({"--skip-cert"});
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_THAT(result.out, Not(HasSubstr("interrupted")));
    EXPECT_THAT(result.out, HasSubstr("INFO: Logging out of token\n"));
}

}  // namespace
