// Whole runs of the tokentest binary against the scripted fake module: the answers the slot
// prompt takes and refuses, and the token chosen by its label or serial number.
#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ChildRun.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const char kTwoTokens[] =
    "slot 1 present Reader A\n"
    "slot 4 absent Empty reader\n"
    "slot 9 present Reader B\n"
    "serial 9 SN-9\n"
    "output C_Sign 0d7fd089\n";

const char kPrompt[] = "\r\nPlease enter slot number: ";

bool Called(const ChildRun::Result& result, const std::string& entry)
{
    return std::find(result.calls.begin(), result.calls.end(), entry) != result.calls.end();
}

int Count(const std::string& text, const std::string& part)
{
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

std::string LastLine(const std::string& text)
{
    std::istringstream in(text);
    std::string last;
    for (std::string line; std::getline(in, line);) last = line;
    return last;
}

// --- The slot prompt -----------------------------------------------------------------------

struct AnswerCase {
    const char* name;
    std::string answer;
};

class RefusedAnswer : public ::testing::TestWithParam<AnswerCase> {};

// The refused answer is followed by "1": the prompt comes twice, the second slot is chosen.
TEST_P(RefusedAnswer, AsksAgain)
{
    ChildRun child;
    child.Script(kTwoTokens);
    child.Input(GetParam().answer + "\n1\n");
    const ChildRun::Result result = child.Run({"--passes=0"});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(Count(result.out, kPrompt), 2) << result.out;
    EXPECT_THAT(result.out, HasSubstr("Selected slot: Reader B\r\n"));
}

// The refused answer is the last line: no slot is chosen, nothing is touched.
TEST_P(RefusedAnswer, ChoosesNothingAtEndOfInput)
{
    ChildRun child;
    child.Script(kTwoTokens);
    child.Input(GetParam().answer + "\n");
    const ChildRun::Result result = child.Run({});
    EXPECT_EQ(result.status, 2);
    EXPECT_THAT(result.out, HasSubstr(std::string(kPrompt) + kPrompt + "\nERROR: std::exception caught: end of input "
                                                                       "while reading the slot number\n"));
    EXPECT_THAT(result.out, Not(HasSubstr("Selected slot")));
    EXPECT_FALSE(Called(result, "C_InitToken"));
    EXPECT_FALSE(Called(result, "C_OpenSession"));
}

INSTANTIATE_TEST_SUITE_P(Answers, RefusedAnswer,
                         ::testing::Values(AnswerCase{"Hex", "0x1"}, AnswerCase{"TrailingLetters", "1abc"},
                                           AnswerCase{"TwoNumbers", "1 2"}, AnswerCase{"Blank", " "},
                                           AnswerCase{"Empty", ""}, AnswerCase{"Negative", "-1"},
                                           AnswerCase{"Plus", "+1"}, AnswerCase{"Decimal", "1.0"},
                                           AnswerCase{"PastTheList", "2"},
                                           AnswerCase{"TooLarge", "18446744073709551617"},
                                           AnswerCase{"Huge", std::string(40, '9')}),
                         [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

TEST(SlotPrompt, TakesAWholeNumberWithBlanksAroundIt)
{
    for (const char* input : {"1\n", " 1 \n", "\t01\r\n", "1"}) {
        ChildRun child;
        child.Script(kTwoTokens);
        child.Input(input);
        const ChildRun::Result result = child.Run({"--passes=0"});
        EXPECT_EQ(result.status, 0) << input;
        EXPECT_EQ(Count(result.out, kPrompt), 1) << input;
        EXPECT_THAT(result.out, HasSubstr("Selected slot: Reader B\r\n")) << input;
    }
}

// --- The token by its label or serial number -------------------------------------------------

struct IdentityCase {
    const char* name;
    std::string script;
    std::vector<std::string> arguments;
    int status;
    std::string lastLine;
};

class TokenIdentityRun : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(TokenIdentityRun, ChoosesTheOneMatchOrTouchesNothing)
{
    ChildRun child;
    child.Script(GetParam().script);
    std::vector<std::string> arguments = GetParam().arguments;
    arguments.push_back("--passes=0");
    const ChildRun::Result result = child.Run(arguments);
    EXPECT_EQ(result.status, GetParam().status) << result.out << result.err;
    EXPECT_EQ(LastLine(result.out), GetParam().lastLine);
    EXPECT_THAT(result.out, Not(HasSubstr("Please enter slot number")));
    EXPECT_FALSE(Called(result, "C_InitToken"));
    EXPECT_FALSE(Called(result, "C_OpenSession"));
}

const std::string kSameSerial = std::string(kTwoTokens) + "serial 1 SN-9\n";

INSTANTIATE_TEST_SUITE_P(
    Identities, TokenIdentityRun,
    ::testing::Values(
        IdentityCase{"Serial", kTwoTokens, {"--token-serial=SN-9"}, 0, "Selected slot: Reader B\r"},
        IdentityCase{"SerialSpacedWithBlank", kTwoTokens, {"--token-serial", "SN-9 "}, 0, "Selected slot: Reader B\r"},
        IdentityCase{"LabelAndSerial", kTwoTokens, {"--token-label", "Fake token", "--token-serial=SN-9"}, 0,
                     "Selected slot: Reader B\r"},
        IdentityCase{"OnlyToken", "slot 3 present Reader C\n", {"--token-label=Fake token"}, 0,
                     "Selected slot: Reader C\r"},
        IdentityCase{"NoSuchSerial", kTwoTokens, {"--token-serial=SN-7"}, 2,
                     "ERROR: std::exception caught: no token has serial number \"SN-7\" (slots with a token: 1, 9)"},
        IdentityCase{"NoToken", "slot 4 absent Empty reader\n", {"--token-label=Fake token"}, 2,
                     "ERROR: std::exception caught: no token has label \"Fake token\" (no slot holds a token)"},
        IdentityCase{"LabelOfTwo", kTwoTokens, {"--token-label=Fake token"}, 2,
                     "ERROR: std::exception caught: 2 tokens have label \"Fake token\" (slots 1, 9): choose one of "
                     "them with --slot"},
        IdentityCase{"SerialOfTwo", kSameSerial, {"--token-serial=SN-9"}, 2,
                     "ERROR: std::exception caught: 2 tokens have serial number \"SN-9\" (slots 1, 9): choose one of "
                     "them with --slot"},
        IdentityCase{"LabelAndOtherSerial", kTwoTokens, {"--token-label=Fake token", "--token-serial=SN-1"}, 2,
                     "ERROR: std::exception caught: no token has label \"Fake token\" and serial number \"SN-1\" "
                     "(slots with a token: 1, 9)"}),
    [](const ::testing::TestParamInfo<IdentityCase>& info) { return std::string(info.param.name); });

TEST(TokenIdentityRun, ThePassRunsOnTheChosenToken)
{
    ChildRun child;
    child.Script(kTwoTokens);
    const ChildRun::Result result = child.Run({"--token-serial", "SN-9", "--skip-cert", "--skip-2048"});
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    for (const std::string& line : result.logLines) {
        if (line.rfind("C_InitToken ", 0) == 0 || line.rfind("C_OpenSession ", 0) == 0) {
            EXPECT_THAT(line, HasSubstr("args=9")) << line;
        }
    }
}

// --- Usage errors stop the run before the module is loaded ------------------------------------

TEST(UsageErrorRun, EndsWith2WithoutLoadingTheModule)
{
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--slot=1", "--token-label=Fake token"}, {"--module"},
          {"--junit", "a.xml", "--junit=b.xml"}, {"--token-serial", "--gost"}}) {
        ChildRun child;
        child.Script(kTwoTokens);
        const ChildRun::Result result = child.Run(arguments);
        EXPECT_EQ(result.status, 2) << arguments[0];
        EXPECT_EQ(result.out, "") << arguments[0];
        EXPECT_THAT(result.err, HasSubstr("error: \"")) << arguments[0];
        EXPECT_TRUE(result.calls.empty()) << arguments[0];
    }
}

}  // namespace
