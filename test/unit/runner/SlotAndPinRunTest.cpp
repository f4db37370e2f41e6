// Whole runs of the tokentest binary against the scripted fake module: the slot options,
// the slot prompt at end of input, the PIN guard's status and the temporary PIN's line.
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ChildRun.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Lines = std::vector<std::string>;

const char kTwoTokens[] =
    "slot 1 present Reader A\n"
    "slot 4 absent Empty reader\n"
    "slot 9 present Reader B\n"
    "serial 9 SN-9\n"
    "output C_Sign 0d7fd089\n";

bool Called(const ChildRun::Result& result, const std::string& entry)
{
    return std::find(result.calls.begin(), result.calls.end(), entry) != result.calls.end();
}

std::string LastLine(const std::string& text)
{
    std::istringstream in(text);
    std::string last;
    for (std::string line; std::getline(in, line);) last = line;
    return last;
}

TEST(SlotRun, FixedSlotRunsThePassOnItWithoutPrompt)
{
    ChildRun child;
    child.Script(kTwoTokens);
    const ChildRun::Result result = child.Run({"--slot=9", "--skip-cert", "--skip-2048"});
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_THAT(result.out, HasSubstr("INFO: Performing tests 1 times...\nSelected slot: Reader B\r\n"));
    EXPECT_THAT(result.out, ::testing::Not(HasSubstr("Please enter slot number")));
    for (const std::string& line : result.logLines) {
        if (line.rfind("C_InitToken ", 0) == 0 || line.rfind("C_OpenSession ", 0) == 0) {
            EXPECT_THAT(line, HasSubstr("args=9")) << line;
        }
    }
}

TEST(SlotRun, FixedSlotWithoutTokenEndsWith2BeforeAnyTokenIsTouched)
{
    for (const char* option : {"--slot=4", "--slot=5"}) {
        ChildRun child;
        child.Script(kTwoTokens);
        const ChildRun::Result result = child.Run({option});
        EXPECT_EQ(result.status, 2);
        const std::string id = std::string(option).substr(7);
        EXPECT_EQ(LastLine(result.out),
                  "ERROR: std::exception caught: slot " + id + " holds no token (slots with a token: 1, 9)");
        EXPECT_FALSE(Called(result, "C_InitToken"));
        EXPECT_FALSE(Called(result, "C_OpenSession"));
        EXPECT_EQ(result.calls.back(), "C_Finalize");
    }
}

TEST(SlotRun, ListSlotsTouchesNoTokenAndEndsWith0)
{
    ChildRun child;
    child.Script(std::string(kTwoTokens) + "flags 0x10040c\n");
    const ChildRun::Result result = child.Run({"--list-slots", "--gost"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "Slot 1: Reader A\r\n"
              "  label \"Fake token\", manufacturer \"Fake manufacturer\", model \"Fake model\", serial number \"\"\r\n"
              "  initialized: yes, user PIN initialized: yes, login required: yes\r\n"
              "  SO PIN: count low, user PIN: ok\r\n"
              "Slot 4: Empty reader\r\n"
              "  no token\r\n"
              "Slot 9: Reader B\r\n"
              "  label \"Fake token\", manufacturer \"Fake manufacturer\", model \"Fake model\", serial number "
              "\"SN-9\"\r\n"
              "  initialized: yes, user PIN initialized: yes, login required: yes\r\n"
              "  SO PIN: count low, user PIN: ok\r\n");
    // No slot was chosen, so no slot's sessions are closed either.
    for (const char* entry : {"C_InitToken", "C_Login", "C_SetPIN", "C_OpenSession", "C_CloseAllSessions"}) {
        EXPECT_FALSE(Called(result, entry)) << entry;
    }
    EXPECT_EQ(result.calls.back(), "C_Finalize");
}

TEST(SlotRun, PromptAtEndOfInputEndsWith2AndWipesNothing)
{
    ChildRun child;
    child.Script(kTwoTokens);
    const ChildRun::Result result = child.Run({});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out,
              "INFO: Performing tests 1 times...\n"
              "Slots with tokens:\r\n"
              "[0] : Reader A (label \"Fake token\", serial number \"\")\n"
              "[1] : Reader B (label \"Fake token\", serial number \"SN-9\")\n"
              "\r\nPlease enter slot number: \n"
              "ERROR: std::exception caught: end of input while reading the slot number\n");
    EXPECT_FALSE(Called(result, "C_InitToken"));
    EXPECT_FALSE(Called(result, "C_OpenSession"));
}

// --- PIN guard ------------------------------------------------------------------------------

struct GuardCase {
    const char* name;
    const char* flags;
    std::vector<std::string> arguments;
    const char* line;
    const char* spared;   // the call that must not happen
};

class GuardRun : public ::testing::TestWithParam<GuardCase> {};

TEST_P(GuardRun, EndsWith4AndTriesNothing)
{
    ChildRun child;
    child.Script(std::string("slot 1 present Reader A\nflags ") + GetParam().flags + "\n");
    const ChildRun::Result result = child.Run(GetParam().arguments);
    EXPECT_EQ(result.status, 4) << result.out;
    EXPECT_EQ(LastLine(result.out), GetParam().line);
    EXPECT_FALSE(Called(result, GetParam().spared));
    EXPECT_FALSE(Called(result, "C_Login"));
    // The teardown still runs.
    ASSERT_GE(result.calls.size(), 2u);
    EXPECT_THAT(Lines(result.calls.end() - 2, result.calls.end()), ElementsAre("C_CloseAllSessions", "C_Finalize"));
}

INSTANTIATE_TEST_SUITE_P(
    Flags, GuardRun,
    ::testing::Values(
        GuardCase{"SoFinalTry", "0x20040c", {},
                  "ERROR: SO PIN is at its final try: not trying it; reset the token's PIN before testing it",
                  "C_InitToken"},
        GuardCase{"UserLocked", "0x4040c", {"--skip-init-token"},
                  "ERROR: User PIN is locked: not trying it; reset the token's PIN before testing it",
                  "C_OpenSession"}),
    [](const ::testing::TestParamInfo<GuardCase>& info) { return std::string(info.param.name); });

TEST(PinRun, FailedSoPinChangeSaysThePinIsBackBeforeTheReport)
{
    ChildRun child;
    // Login 6 is the SO's with the temporary PIN: one in the pass, three in the user's test.
    child.Script("slot 1 present Reader A\nfail C_Login CKR_DEVICE_ERROR from 6 once\n");
    const ChildRun::Result result = child.Run({"--skip-cert", "--skip-2048"});
    EXPECT_EQ(result.status, 2);
    std::istringstream in(result.out);
    Lines lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_GE(lines.size(), 4u);
    // The call named is the refused login, not one of the restore's calls after it.
    EXPECT_THAT(Lines(lines.end() - 4, lines.end()),
                ElementsAre("INFO: Trying to login with new PIN",
                            "INFO: The SO PIN was the temporary PIN 26074913 when the test failed; it is back to the "
                            "default PIN 52816037",
                            "PKCS ERROR in CTokenOperator::Authenticate : CKR_DEVICE_ERROR",
                            "ERROR: the module answered C_Login (CKU_SO) with CKR_DEVICE_ERROR"));
}

}  // namespace
