// Token formatting, PIN change and object listing through the fake module.
#include <climits>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ConsoleScript.h"
#include "FakeTokenFixture.h"
#include "support/PKCSException.h"
#include "token/BasicOperator.h"

namespace {

using ::testing::ElementsAre;

class BasicOperations : public FakeTokenFixture {
protected:
    // Runs the listing and returns what it printed; a raised CPKCSException is kept.
    std::string List()
    {
        ConsoleScript console;
        try {
            m_tests->GetObjects();
        } catch (const CPKCSException& e) {
            m_error = e.m_function + " " + std::to_string(e.m_rv);
            m_call = e.m_answer ? e.m_answer->call : "";
        }
        return console.Output();
    }

    std::string m_error;
    std::string m_call;   // the module's call the failure reports
};

TEST_F(BasicOperations, DefaultLabelIsBlankPadded)
{
    CBasicOperator basic;
    unsigned char label[40];
    std::fill(std::begin(label), std::end(label), 'x');
    basic.GetDefaultLabel(label, 32);
    EXPECT_EQ(std::string(label, label + 40), "KORVEL Token                    xxxxxxxx");
    basic.GetDefaultLabel(label, 12);
    EXPECT_EQ(std::string(label, label + 13), "KORVEL Token ");
}

TEST_F(BasicOperations, FormatTokenSendsDefaultSoPinAndLabel)
{
    ASSERT_TRUE(m_tests->SelectSlot());
    fake::ClearCalls();
    m_tests->FormatToken();
    // The token sets the user PIN itself: nothing more than the check of its flags.
    EXPECT_THAT(fake::CallNames(), ElementsAre("C_GetTokenInfo", "C_InitToken", "C_GetTokenInfo"));
    const fake::Call call = CallsOf("C_InitToken").at(0);
    EXPECT_THAT(call.args, ElementsAre(kSlot));
    ASSERT_EQ(call.buffers.size(), 2u);
    EXPECT_EQ(call.buffers[0], BytesOf("52816037"));
    EXPECT_EQ(call.buffers[1], BytesOf("KORVEL Token" + std::string(20, ' ')));
}

TEST_F(BasicOperations, FormatTokenSetsTheUserPinWhereTheTokenLeftItUnset)
{
    fake::SetStandardInitToken(true);
    ASSERT_TRUE(m_tests->SelectSlot());
    fake::ClearCalls();
    m_tests->FormatToken();
    EXPECT_THAT(fake::CallNames(), ElementsAre("C_GetTokenInfo", "C_InitToken", "C_GetTokenInfo", "C_OpenSession",
                                               "C_Login", "C_InitPIN", "C_Logout", "C_CloseSession"));
    EXPECT_THAT(CallsOf("C_OpenSession").at(0).args, ElementsAre(kSlot, CKF_SERIAL_SESSION | CKF_RW_SESSION));
    const fake::Call login = CallsOf("C_Login").at(0);
    EXPECT_EQ(login.args.at(1), static_cast<CK_ULONG>(CKU_SO));
    EXPECT_EQ(login.buffers.at(0), BytesOf("52816037"));
    EXPECT_EQ(CallsOf("C_InitPIN").at(0).buffers.at(0), BytesOf("52816037"));
    EXPECT_TRUE(fake::OpenSessions().empty());
    EXPECT_TRUE(m_tests->Authenticate(DefaultPin(), CKU_USER, CKF_RW_SESSION));
}

// A refused step of the PIN setting is reported as the formatting's, with the module's code,
// and the SO's session is closed all the same.
struct UserPinFault {
    const char* entry;
    CK_RV rv;
    std::vector<std::string> calls;   // after the second C_GetTokenInfo
    int fromCall = 1;
};

void PrintTo(const UserPinFault& fault, std::ostream* out) { *out << fault.entry; }

class UserPinFaults : public BasicOperations, public ::testing::WithParamInterface<UserPinFault> {};

TEST_P(UserPinFaults, AreReportedAsFormatTokenAndLeaveNoSession)
{
    fake::SetStandardInitToken(true);
    ASSERT_TRUE(m_tests->SelectSlot());
    fake::Fail(GetParam().entry, GetParam().rv, GetParam().fromCall);
    fake::ClearCalls();
    try {
        m_tests->FormatToken();
        FAIL() << "no exception";
    } catch (const CPKCSException& e) {
        EXPECT_EQ(e.m_rv, GetParam().rv);
        EXPECT_EQ(e.m_function, "CTokenOperator::FormatToken");
    }
    std::vector<std::string> expected = {"C_GetTokenInfo", "C_InitToken", "C_GetTokenInfo"};
    expected.insert(expected.end(), GetParam().calls.begin(), GetParam().calls.end());
    EXPECT_EQ(fake::CallNames(), expected);
    if (GetParam().entry != std::string("C_CloseSession")) {
        EXPECT_TRUE(fake::OpenSessions().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, UserPinFaults,
    ::testing::Values(UserPinFault{"C_GetTokenInfo", CKR_DEVICE_ERROR, {}, 2},
                      UserPinFault{"C_OpenSession", CKR_SESSION_COUNT, {"C_OpenSession"}},
                      UserPinFault{"C_Login", CKR_PIN_INCORRECT, {"C_OpenSession", "C_Login", "C_CloseSession"}},
                      UserPinFault{"C_InitPIN", CKR_PIN_LEN_RANGE,
                                   {"C_OpenSession", "C_Login", "C_InitPIN", "C_Logout", "C_CloseSession"}},
                      UserPinFault{"C_Logout", CKR_DEVICE_ERROR,
                                   {"C_OpenSession", "C_Login", "C_InitPIN", "C_Logout", "C_CloseSession"}},
                      UserPinFault{"C_CloseSession", CKR_DEVICE_ERROR,
                                   {"C_OpenSession", "C_Login", "C_InitPIN", "C_Logout", "C_CloseSession"}}),
    [](const ::testing::TestParamInfo<UserPinFault>& info) { return std::string(info.param.entry).substr(2); });

TEST_F(BasicOperations, FormatTokenWithOpenSessionNamesFormatToken)
{
    SelectAndLogIn();
    fake::Fail("C_InitToken", CKR_SESSION_EXISTS);
    try {
        m_tests->FormatToken();
        FAIL() << "no exception";
    } catch (const CPKCSException& e) {
        EXPECT_EQ(e.m_rv, static_cast<CK_RV>(CKR_SESSION_EXISTS));
        EXPECT_EQ(e.m_function, "CTokenOperator::FormatToken");
    }
}

TEST_F(BasicOperations, ChangePinUsesCurrentSession)
{
    SelectAndLogIn();
    m_tests->ChangePin("52816037", "11112222");
    const fake::Call call = CallsOf("C_SetPIN").at(0);
    EXPECT_EQ(call.args.at(0), m_tests->CurrentSession());
    EXPECT_EQ(call.buffers.at(0), BytesOf("52816037"));
    EXPECT_EQ(call.buffers.at(1), BytesOf("11112222"));
    EXPECT_EQ(fake::Pin(CKU_USER), "11112222");
}

TEST_F(BasicOperations, ChangePinWithWrongOldPinRaisesQuietly)
{
    SelectAndLogIn();
    ConsoleScript console;
    try {
        m_tests->ChangePin("00000000", "11112222");
        FAIL() << "no exception";
    } catch (const CPKCSException& e) {
        EXPECT_EQ(e.m_rv, static_cast<CK_RV>(CKR_PIN_INCORRECT));
        EXPECT_EQ(e.m_function, "CTokenOperator::ChangePin");
    }
    EXPECT_EQ(console.Output(), "");
}

TEST_F(BasicOperations, ChangePinWithEmptyStringsPassesNoBytes)
{
    SelectAndLogIn();
    fake::Fail("C_SetPIN", CKR_PIN_LEN_RANGE);
    EXPECT_THROW(m_tests->ChangePin("", ""), CPKCSException);
    const fake::Call call = CallsOf("C_SetPIN").at(0);
    ASSERT_EQ(call.buffers.size(), 2u);
    for (const auto& buffer : call.buffers) {
        EXPECT_TRUE(!buffer || buffer->empty());
    }
}

TEST_F(BasicOperations, EmptyTokenListsNothing)
{
    SelectAndLogIn();
    EXPECT_EQ(List(), "Token contains 0 objects.\r\n");
    EXPECT_EQ(m_error, "");
}

TEST_F(BasicOperations, ListingRendersIdentifiersLabelsAndClasses)
{
    struct Entry {
        std::vector<fake::Attribute> attributes;
        const char* block;   // after "Object k\r\n"
    };
    const std::string padded = "Padded label" + std::string(20, ' ');
    const Entry entries[] = {
        {{fake::Text(CKA_LABEL, "Data"), fake::Byte(CKA_ID, 100), fake::Ulong(CKA_CLASS, CKO_DATA)},
         "ID: 64\r\nLabel: Data\r\nType: CKO_DATA\r\n\r\n"},
        {{fake::Text(CKA_LABEL, ""), fake::Raw(CKA_ID, {0x00, 0x01}), fake::Ulong(CKA_CLASS, CKO_CERTIFICATE)},
         "ID: 0001\r\nLabel: \r\nType: CKO_CERTIFICATE\r\n\r\n"},
        {{fake::Text(CKA_LABEL, padded), fake::Raw(CKA_ID, {}), fake::Ulong(CKA_CLASS, CKO_PUBLIC_KEY)},
         "ID: \r\nLabel: Padded label                    \r\nType: CKO_PUBLIC_KEY\r\n\r\n"},
        {{fake::Text(CKA_LABEL, "k"), fake::Raw(CKA_ID, {0x0A, 0xC8}), fake::Ulong(CKA_CLASS, CKO_PRIVATE_KEY)},
         "ID: 0ac8\r\nLabel: k\r\nType: CKO_PRIVATE_KEY\r\n\r\n"},
        {{fake::Text(CKA_LABEL, "s"), fake::Byte(CKA_ID, 0xff), fake::Ulong(CKA_CLASS, CKO_SECRET_KEY)},
         "ID: ff\r\nLabel: s\r\nType: CKO_SECRET_KEY\r\n\r\n"},
        {{fake::Text(CKA_LABEL, "hw"), fake::Byte(CKA_ID, 1), fake::Ulong(CKA_CLASS, CKO_HW_FEATURE)},
         "ID: 01\r\nLabel: hw\r\nType: other\r\n\r\n"},
        {{fake::Text(CKA_LABEL, "v"), fake::Byte(CKA_ID, 2), fake::Ulong(CKA_CLASS, CKO_VENDOR_DEFINED)},
         "ID: 02\r\nLabel: v\r\nType: other\r\n\r\n"},
        {{fake::Text(CKA_LABEL, "v+"), fake::Byte(CKA_ID, 3), fake::Ulong(CKA_CLASS, CKO_VENDOR_DEFINED + 9)},
         "ID: 03\r\nLabel: v+\r\nType: other\r\n\r\n"},
        // A class value shorter than a CK_OBJECT_CLASS is never read past its end.
        {{fake::Text(CKA_LABEL, "short"), fake::Byte(CKA_ID, 4), fake::Raw(CKA_CLASS, {3, 0, 0, 0})},
         "ID: 04\r\nLabel: short\r\nType: other\r\n\r\n"},
        {{fake::Text(CKA_LABEL, "none"), fake::Byte(CKA_ID, 5), fake::Raw(CKA_CLASS, {})},
         "ID: 05\r\nLabel: none\r\nType: other\r\n\r\n"},
    };
    std::string expected = "Token contains " + std::to_string(std::size(entries)) + " objects.\r\n";
    for (size_t k = 0; k < std::size(entries); ++k) {
        fake::AddObject(entries[k].attributes);
        expected += "Object " + std::to_string(k) + "\r\n" + entries[k].block;
    }
    SelectAndLogIn();
    EXPECT_EQ(List(), expected);
    EXPECT_EQ(m_error, "");
}

TEST_F(BasicOperations, ListingReadsEachAttributeInTwoCallsLabelsFirst)
{
    for (unsigned char id : {1, 2}) {
        fake::AddObject({fake::Ulong(CKA_CLASS, CKO_DATA), fake::Byte(CKA_ID, id), fake::Text(CKA_LABEL, "x")});
    }
    SelectAndLogIn();
    fake::ClearCalls();
    List();
    EXPECT_EQ(CallsOf("C_FindObjects").size(), 3u);
    const std::vector<fake::Call> reads = CallsOf("C_GetAttributeValue");
    ASSERT_EQ(reads.size(), 12u);
    const CK_ATTRIBUTE_TYPE order[] = {CKA_LABEL, CKA_LABEL, CKA_ID, CKA_ID, CKA_CLASS, CKA_CLASS};
    for (size_t i = 0; i < reads.size(); ++i) {
        const fake::Attribute& asked = reads[i].templates.at(0).at(0);
        EXPECT_EQ(asked.type, order[i / 2]) << i;
        EXPECT_EQ(asked.nullValue, i % 2 == 0) << i;   // length query first
    }
    const std::vector<fake::Call> init = CallsOf("C_FindObjectsInit");
    ASSERT_EQ(init.size(), 1u);
    EXPECT_THAT(init[0].args, ElementsAre(m_tests->CurrentSession(), 0u, 0u));
}

TEST_F(BasicOperations, MissingIdentifierFailsBeforeAnythingIsPrinted)
{
    fake::AddObject({fake::Ulong(CKA_CLASS, CKO_DATA), fake::Byte(CKA_ID, 1), fake::Text(CKA_LABEL, "a")});
    fake::AddObject({fake::Ulong(CKA_CLASS, CKO_DATA), fake::Text(CKA_LABEL, "no id")});
    SelectAndLogIn();
    EXPECT_EQ(List(), "");
    EXPECT_EQ(m_error, "CTokenOperator::GetObjects " + std::to_string(CKR_ATTRIBUTE_TYPE_INVALID));
    // The search had ended before the attributes were read.
    const std::vector<std::string> names = fake::CallNames();
    EXPECT_LT(std::find(names.begin(), names.end(), "C_FindObjectsFinal") - names.begin(),
              std::find(names.begin(), names.end(), "C_GetAttributeValue") - names.begin());
}

TEST_F(BasicOperations, FailingSearchEndRaisesAfterTheListing)
{
    fake::AddObject({fake::Ulong(CKA_CLASS, CKO_SECRET_KEY), fake::Byte(CKA_ID, 200), fake::Text(CKA_LABEL, "k")});
    SelectAndLogIn();
    fake::Fail("C_FindObjectsFinal", CKR_FUNCTION_FAILED);
    EXPECT_EQ(List(), "Token contains 1 objects.\r\nObject 0\r\nID: c8\r\nLabel: k\r\nType: CKO_SECRET_KEY\r\n\r\n");
    EXPECT_EQ(m_error, "CTokenOperator::GetObjects " + std::to_string(CKR_FUNCTION_FAILED));
}

TEST_F(BasicOperations, FailingSearchStepEndsTheSearchAndRaises)
{
    fake::AddObject({fake::Ulong(CKA_CLASS, CKO_DATA), fake::Byte(CKA_ID, 1), fake::Text(CKA_LABEL, "a")});
    SelectAndLogIn();
    fake::ClearCalls();
    fake::Fail("C_FindObjects", CKR_DEVICE_ERROR, 2);
    EXPECT_EQ(List(), "");
    EXPECT_EQ(m_error, "CTokenOperator::GetObjects " + std::to_string(CKR_DEVICE_ERROR));
    EXPECT_THAT(fake::CallNames(),
                ElementsAre("C_GetTokenInfo", "C_FindObjectsInit", "C_FindObjects", "C_FindObjects",
                            "C_FindObjectsFinal"));
}

// The search is ended after a failed step; its own failure there is not the call named.
TEST_F(BasicOperations, FailingSearchEndAfterAFailedStepIsNotTheCallNamed)
{
    fake::AddObject({fake::Ulong(CKA_CLASS, CKO_DATA), fake::Byte(CKA_ID, 1), fake::Text(CKA_LABEL, "a")});
    SelectAndLogIn();
    fake::Fail("C_FindObjects", CKR_DEVICE_ERROR, 2);
    fake::Fail("C_FindObjectsFinal", CKR_DEVICE_ERROR);
    EXPECT_EQ(List(), "");
    EXPECT_EQ(m_error, "CTokenOperator::GetObjects " + std::to_string(CKR_DEVICE_ERROR));
    EXPECT_EQ(m_call, "C_FindObjects");

    // Where the end of the search is what failed, it is the call named.
    fake::Reset();
    fake::AddSlot(kSlot, "Fake slot");
    SelectAndLogIn();
    fake::Fail("C_FindObjectsFinal", CKR_DEVICE_ERROR);
    m_call.clear();
    EXPECT_EQ(List(), "Token contains 0 objects.\r\n");
    EXPECT_EQ(m_call, "C_FindObjectsFinal");
}

TEST_F(BasicOperations, RemovedTokenIsReportedBeforeTheSearch)
{
    SelectAndLogIn();
    fake::SetTokenPresent(kSlot, false);
    fake::ClearCalls();
    EXPECT_EQ(List(), "");
    EXPECT_EQ(m_error, "CTokenOperator::CheckToken " + std::to_string(CKR_TOKEN_NOT_PRESENT));
    EXPECT_THAT(fake::CallNames(), ElementsAre("C_GetTokenInfo"));
}

TEST_F(BasicOperations, ReachableThroughTheInterface)
{
    CBasicOperator basic;
    basic.Initialize(m_tests->ModuleHandle(), m_tests->FunctionList());
    SelectAndLogIn();
    basic.SetCurrentSlot(kSlot);
    basic.SetCurrentSession(m_tests->CurrentSession());
    IBasicOperator& asInterface = basic;
    ConsoleScript console;
    asInterface.GetObjects();
    EXPECT_EQ(console.Output(), "Token contains 0 objects.\r\n");
}

}  // namespace
