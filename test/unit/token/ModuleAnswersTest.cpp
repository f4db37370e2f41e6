// The record of the module's failing answers and the lines a report adds from it.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "runner/ErrorReport.h"
#include "support/CustomException.h"
#include "support/IgnoredAnswers.h"
#include "support/ModuleAnswers.h"
#include "support/PKCSException.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Answer = CModuleAnswers::Answer;
using Lines = std::vector<std::string>;

class ModuleAnswers : public ::testing::Test {
protected:
    void SetUp() override { CModuleAnswers::Clear(); }
    void TearDown() override { CModuleAnswers::Clear(); }

    static void Answered(const std::string& call, CK_RV rv) { CModuleAnswers::Record({call, rv, false, {}}); }
};

TEST_F(ModuleAnswers, NewestAnswerWithTheCodeIsFound)
{
    Answered("C_InitPIN", CKR_DEVICE_ERROR);
    Answered("C_Logout", CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(CModuleAnswers::Latest(CKR_DEVICE_ERROR)->call, "C_InitPIN");
    Answered("C_CloseSession", CKR_DEVICE_ERROR);
    EXPECT_EQ(CModuleAnswers::Latest(CKR_DEVICE_ERROR)->call, "C_CloseSession");
    EXPECT_FALSE(CModuleAnswers::Latest(CKR_PIN_INCORRECT).has_value());
}

TEST_F(ModuleAnswers, OnlyTheLastFewAreKept)
{
    Answered("C_Sign", CKR_DATA_INVALID);
    for (int i = 0; i < 8; ++i) Answered("C_DestroyObject", CKR_OBJECT_HANDLE_INVALID);
    EXPECT_FALSE(CModuleAnswers::Latest(CKR_DATA_INVALID).has_value());
}

TEST_F(ModuleAnswers, CleanUpInsideAnIgnoredScopeIsNotRecorded)
{
    Answered("C_FindObjects", CKR_DEVICE_ERROR);
    {
        const CIgnoredAnswers outer;
        {
            const CIgnoredAnswers inner;
        }
        Answered("C_FindObjectsFinal", CKR_DEVICE_ERROR);
        const CIgnoredAnswers inactive(false);
    }
    EXPECT_EQ(CModuleAnswers::Latest(CKR_DEVICE_ERROR)->call, "C_FindObjects");
    {
        const CIgnoredAnswers inactive(false);
        Answered("C_GetAttributeValue (CKA_LABEL)", CKR_DEVICE_ERROR);
    }
    EXPECT_EQ(CModuleAnswers::Latest(CKR_DEVICE_ERROR)->call, "C_GetAttributeValue (CKA_LABEL)");
}

TEST_F(ModuleAnswers, ExceptionsKeepTheAnswerOfTheirMoment)
{
    Answered("C_CreateObject (CKO_PRIVATE_KEY, CKK_RSA)", CKR_DEVICE_ERROR);
    const CPKCSException reported(CKR_DEVICE_ERROR, "C_KTL_LoadCert in CBaseSignatureOperator::LoadCertificateWithKey");
    const CPKCSException unrelated(CKR_FUNCTION_FAILED, "CRsaSignatureOperator::GenerateCSR");
    // What fails in the teardown after the exception was made does not change it.
    Answered("C_CloseAllSessions", CKR_DEVICE_ERROR);
    EXPECT_THAT(CErrorReport::FailingCallLines(reported),
                ElementsAre("ERROR: the module answered C_CreateObject (CKO_PRIVATE_KEY, CKK_RSA) with "
                            "CKR_DEVICE_ERROR"));
    EXPECT_THAT(CErrorReport::FailingCallLines(unrelated), IsEmpty());
    EXPECT_THAT(CErrorReport::FailingCallLines(CustomException("Object not found")), IsEmpty());
    EXPECT_THAT(CErrorReport::FailingCallLines(std::runtime_error("x")), IsEmpty());
}

struct LinesCase {
    const char* name;
    Answer answer;
    Lines lines;
};

void PrintTo(const LinesCase& c, std::ostream* out) { *out << c.name; }

class FailingCallLines : public ::testing::TestWithParam<LinesCase> {};

TEST_P(FailingCallLines, OfOneAnswer)
{
    EXPECT_EQ(CErrorReport::FailingCallLines(GetParam().answer), GetParam().lines);
    const CustomException refusal("Can not authenticate into token using default PIN", GetParam().answer);
    EXPECT_EQ(CErrorReport::FailingCallLines(refusal), GetParam().lines);
}

const std::string kSoHint = "ERROR: the token refused the SO PIN; give the right one with --so-pin=PIN or the "
                            "environment variable TOKENTEST_SO_PIN";

INSTANTIATE_TEST_SUITE_P(
    Answers, FailingCallLines,
    ::testing::Values(
        LinesCase{"Named", {"C_SignInit (CKM_SHA256_RSA_PKCS)", CKR_KEY_TYPE_INCONSISTENT, false, {}},
                  {"ERROR: the module answered C_SignInit (CKM_SHA256_RSA_PKCS) with CKR_KEY_TYPE_INCONSISTENT"}},
        LinesCase{"UnnamedCode", {"C_Sign", 0x80000001, false, {}},
                  {"ERROR: the module answered C_Sign with 0x80000001"}},
        LinesCase{"MissingEntry", {"C_Initialize", CKR_FUNCTION_NOT_SUPPORTED, true, {}},
                  {"ERROR: the module's function list has no C_Initialize"}},
        LinesCase{"SoPin", {"C_InitToken", CKR_PIN_INCORRECT, false, CKU_SO},
                  {"ERROR: the module answered C_InitToken with CKR_PIN_INCORRECT", kSoHint}},
        LinesCase{"UserPin", {"C_Login (CKU_USER)", CKR_PIN_LEN_RANGE, false, CKU_USER},
                  {"ERROR: the module answered C_Login (CKU_USER) with CKR_PIN_LEN_RANGE",
                   "ERROR: the token refused the user PIN; give the right one with --pin=PIN or the environment "
                   "variable TOKENTEST_PIN"}},
        // The run has no option for a key's own PIN.
        LinesCase{"ContextSpecificPin",
                  {"C_Login (CKU_CONTEXT_SPECIFIC)", CKR_PIN_INCORRECT, false, CKU_CONTEXT_SPECIFIC},
                  {"ERROR: the module answered C_Login (CKU_CONTEXT_SPECIFIC) with CKR_PIN_INCORRECT"}}),
    [](const ::testing::TestParamInfo<LinesCase>& info) { return std::string(info.param.name); });

TEST(FailingCallLines, NoAnswerNoLine)
{
    EXPECT_THAT(CErrorReport::FailingCallLines(std::optional<Answer>()), IsEmpty());
}

TEST(FailingCallLines, WrittenOneLineEach)
{
    std::ostringstream out;
    CErrorReport::Write(out, Lines{"a", "b"});
    EXPECT_EQ(out.str(), "a\nb\n");
}

}  // namespace
