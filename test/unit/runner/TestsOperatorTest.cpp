// The tests operator through the fake module: sharing of module, slot and session, the PIN
// change test and token cleaning.
#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ConsoleScript.h"
#include "FakeTokenFixture.h"
#include "support/CustomException.h"
#include "support/PKCSException.h"

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class TestsOperator : public FakeTokenFixture {
protected:
    // Every operator the tests operator owns works on this session.
    void ExpectMembersOnSession(CK_SESSION_HANDLE session)
    {
        EXPECT_EQ(m_tests->CurrentSession(), session);
        EXPECT_EQ(m_tests->BasicOperator().CurrentSession(), session);
        EXPECT_EQ(m_tests->RsaOperator().CurrentSession(), session);
        EXPECT_EQ(m_tests->GostOperator().CurrentSession(), session);
    }

    static CK_SESSION_HANDLE LastOpenedSession()
    {
        const std::vector<CK_SESSION_HANDLE> sessions = fake::OpenSessions();
        return sessions.empty() ? 0 : sessions.back();
    }
};

TEST_F(TestsOperator, LoadsTheModuleOnceAndLendsIt)
{
    EXPECT_THAT(fake::CallNames(), ElementsAre("C_GetFunctionList", "C_Initialize"));
    EXPECT_NE(m_tests->ModuleHandle(), nullptr);
    for (const CTokenOperator* member : {static_cast<const CTokenOperator*>(&m_tests->BasicOperator()),
                                         static_cast<const CTokenOperator*>(&m_tests->RsaOperator()),
                                         static_cast<const CTokenOperator*>(&m_tests->GostOperator())}) {
        EXPECT_EQ(member->ModuleHandle(), m_tests->ModuleHandle());
        EXPECT_EQ(member->FunctionList(), m_tests->FunctionList());
    }
}

TEST_F(TestsOperator, SelectedSlotReachesEveryMember)
{
    EXPECT_TRUE(m_tests->SelectSlot());
    EXPECT_EQ(m_tests->CurrentSlot(), kSlot);
    EXPECT_EQ(m_tests->BasicOperator().CurrentSlot(), kSlot);
    EXPECT_EQ(m_tests->RsaOperator().CurrentSlot(), kSlot);
    EXPECT_EQ(m_tests->GostOperator().CurrentSlot(), kSlot);
}

TEST_F(TestsOperator, NoTokenSelectsNothing)
{
    fake::SetTokenPresent(kSlot, false);
    ConsoleScript console;
    EXPECT_FALSE(m_tests->SelectSlot());
    EXPECT_EQ(console.Output(), "");
}

TEST_F(TestsOperator, RefusedLoginStillHandsOverItsSession)
{
    SelectAndLogIn();
    const CK_SESSION_HANDLE first = m_tests->CurrentSession();
    ExpectMembersOnSession(first);
    m_tests->Logout();
    ConsoleScript console;
    EXPECT_FALSE(m_tests->Authenticate({'0'}, CKU_USER, CKF_RW_SESSION));
    EXPECT_EQ(console.Output(), "Incorrect PIN\n");
    EXPECT_NE(m_tests->CurrentSession(), first);
    ExpectMembersOnSession(LastOpenedSession());
}

TEST_F(TestsOperator, FailingLoginKeepsTheMembersOnTheirSession)
{
    SelectAndLogIn();
    const CK_SESSION_HANDLE first = m_tests->CurrentSession();
    fake::Fail("C_Login", CKR_PIN_LOCKED);
    EXPECT_THROW(m_tests->Authenticate(DefaultPin(), CKU_USER, CKF_RW_SESSION), CPKCSException);
    EXPECT_EQ(m_tests->BasicOperator().CurrentSession(), first);
    EXPECT_EQ(m_tests->GostOperator().CurrentSession(), first);
}

TEST_F(TestsOperator, DestructionWithoutAChosenSlotClosesNoSessions)
{
    m_tests.reset();
    EXPECT_THAT(fake::CallNames(), ElementsAre("C_GetFunctionList", "C_Initialize", "C_Finalize"));
}

// After the operator's own C_InitToken, a token may show its user PIN initialised and still
// refuse the user's login for want of it: the SO sets it, and the login is tried once more.
struct UnsetUserPin {
    const char* name;
    bool formatFirst;   // FormatToken before the login
    int refusals;       // C_Login of the user answers CKR_USER_PIN_NOT_INITIALIZED this often
    bool loggedIn;      // false: the refusal is thrown
};

void PrintTo(const UnsetUserPin& c, std::ostream* out) { *out << c.name; }

class UserPinNotInitialized : public TestsOperator, public ::testing::WithParamInterface<UnsetUserPin> {};

TEST_P(UserPinNotInitialized, IsSetByTheSoOnceAfterFormatting)
{
    const UnsetUserPin& c = GetParam();
    ASSERT_TRUE(m_tests->SelectSlot());
    if (c.formatFirst) {
        m_tests->FormatToken();
    }
    fake::ClearCalls();
    // The SO's own login in between is the second C_Login.
    fake::Fail("C_Login", CKR_USER_PIN_NOT_INITIALIZED, 1, true);
    if (c.refusals > 1) {
        fake::Fail("C_Login", CKR_USER_PIN_NOT_INITIALIZED, 3, true);
    }
    if (!c.loggedIn) {
        try {
            m_tests->Authenticate(DefaultPin(), CKU_USER, CKF_RW_SESSION);
            FAIL() << "no exception";
        } catch (const CPKCSException& e) {
            EXPECT_EQ(e.m_rv, static_cast<CK_RV>(CKR_USER_PIN_NOT_INITIALIZED));
            EXPECT_EQ(e.m_function, "CTokenOperator::Authenticate");
        }
        EXPECT_EQ(CallsOf("C_Login").size(), c.formatFirst ? 3u : 1u);
        return;
    }
    EXPECT_TRUE(m_tests->Authenticate(DefaultPin(), CKU_USER, CKF_RW_SESSION));
    const std::vector<fake::Call> logins = CallsOf("C_Login");
    ASSERT_EQ(logins.size(), 3u);
    EXPECT_EQ(logins[1].args.at(1), static_cast<CK_ULONG>(CKU_SO));
    ASSERT_EQ(CallsOf("C_InitPIN").size(), 1u);
    EXPECT_EQ(CallsOf("C_InitPIN")[0].args.at(0), logins[1].args.at(0));
    EXPECT_EQ(CallsOf("C_InitPIN")[0].buffers.at(0), fake::Bytes(DefaultPin()));
    // The SO's session is closed; the members follow the user's new session.
    EXPECT_EQ(CallsOf("C_CloseSession").size(), 1u);
    EXPECT_EQ(fake::LoggedInUser(), std::optional<CK_USER_TYPE>(CKU_USER));
    ExpectMembersOnSession(logins[2].args.at(0));
}

INSTANTIATE_TEST_SUITE_P(Cases, UserPinNotInitialized,
                         ::testing::Values(UnsetUserPin{"AfterFormatting", true, 1, true},
                                           UnsetUserPin{"WithoutFormatting", false, 1, false},
                                           UnsetUserPin{"RefusedAgain", true, 2, false}),
                         [](const ::testing::TestParamInfo<UnsetUserPin>& info) { return std::string(info.param.name); });

TEST_F(TestsOperator, UserPinIsSetOnlyAtTheFirstLoginAfterFormatting)
{
    ASSERT_TRUE(m_tests->SelectSlot());
    m_tests->FormatToken();
    ASSERT_TRUE(m_tests->Authenticate(DefaultPin(), CKU_USER, CKF_RW_SESSION));
    m_tests->Logout();
    fake::Fail("C_Login", CKR_USER_PIN_NOT_INITIALIZED);
    fake::ClearCalls();
    EXPECT_THROW(m_tests->Authenticate(DefaultPin(), CKU_USER, CKF_RW_SESSION), CPKCSException);
    EXPECT_TRUE(CallsOf("C_InitPIN").empty());
}

TEST_F(TestsOperator, DestructionClosesSessionsAndFinalizes)
{
    SelectAndLogIn();
    m_tests->Logout();
    EXPECT_FALSE(m_tests->Authenticate({'0'}, CKU_USER, CKF_RW_SESSION));   // one more session
    EXPECT_EQ(fake::OpenSessions().size(), 2u);
    fake::ClearCalls();
    m_tests.reset();
    EXPECT_THAT(fake::CallNames(), ElementsAre("C_CloseAllSessions", "C_Finalize"));
    EXPECT_THAT(fake::Calls().at(0).args, ElementsAre(kSlot));
    EXPECT_TRUE(fake::OpenSessions().empty());
}

// --- PIN change ---------------------------------------------------------------------------


class PinChange : public TestsOperator, public ::testing::WithParamInterface<CK_USER_TYPE> {};

TEST_P(PinChange, ChangesAndRestoresThePin)
{
    const CK_USER_TYPE user = GetParam();
    SelectAndLogIn();
    const size_t sessionsBefore = fake::OpenSessions().size();
    fake::ClearCalls();
    ConsoleScript console;
    m_tests->TestPinChange(user);

    EXPECT_EQ(console.Output(),
              "INFO: Logging in with default PIN\n"
              "INFO: Trying to login with new PIN\n"
              "INFO: Trying to change PIN back to default\n"
              "INFO: Trying to login with default PIN\n");
    EXPECT_EQ(fake::OpenSessions().size(), sessionsBefore + 3);
    EXPECT_EQ(fake::LoggedInUser(), std::optional<CK_USER_TYPE>(user));
    EXPECT_EQ(fake::Pin(user), "52816037");
    ExpectMembersOnSession(LastOpenedSession());

    const std::vector<std::string> expectedNames = {
        "C_Logout",       "C_GetTokenInfo", "C_OpenSession", "C_Login",  "C_GetTokenInfo", "C_SetPIN",
        "C_Logout",       "C_GetTokenInfo", "C_OpenSession", "C_Login",  "C_GetTokenInfo", "C_SetPIN",
        "C_Logout",       "C_GetTokenInfo", "C_OpenSession", "C_Login"};
    EXPECT_THAT(fake::CallNames(), ElementsAreArray(expectedNames));

    // Each login is as the user under test, with the PIN in force at that moment, and each
    // PIN change runs on the session that the login before it opened.
    const std::vector<fake::Call> logins = CallsOf("C_Login");
    const std::vector<fake::Call> opens = CallsOf("C_OpenSession");
    const std::vector<fake::Call> changes = CallsOf("C_SetPIN");
    ASSERT_EQ(logins.size(), 3u);
    const char* pins[] = {"52816037", "26074913", "52816037"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(logins[i].args.at(1), user);
        EXPECT_EQ(logins[i].buffers.at(0), BytesOf(pins[i]));
        EXPECT_EQ(opens[i].args.at(1), static_cast<CK_ULONG>(CKF_RW_SESSION | CKF_SERIAL_SESSION));
    }
    EXPECT_EQ(changes.at(0).args.at(0), logins[0].args.at(0));
    EXPECT_EQ(changes.at(0).buffers.at(1), BytesOf("26074913"));
    EXPECT_EQ(changes.at(1).args.at(0), logins[1].args.at(0));
    EXPECT_EQ(changes.at(1).buffers.at(1), BytesOf("52816037"));
}

INSTANTIATE_TEST_SUITE_P(UserAndSecurityOfficer, PinChange,
                         ::testing::Values(static_cast<CK_USER_TYPE>(CKU_USER), static_cast<CK_USER_TYPE>(CKU_SO)));

TEST_F(TestsOperator, RefusedDefaultPinIsReported)
{
    SelectAndLogIn();
    fake::Fail("C_Login", CKR_PIN_INCORRECT, 2, true);
    ConsoleScript console;
    try {
        m_tests->TestPinChange(CKU_SO);
        FAIL() << "no exception";
    } catch (const CustomException& e) {
        EXPECT_STREQ(e.what(), "Can not authenticate into token using default PIN");
    }
    EXPECT_TRUE(CallsOf("C_SetPIN").empty());
    ExpectMembersOnSession(LastOpenedSession());
}

TEST_F(TestsOperator, PinChangeWithoutLoginFailsAtLogout)
{
    SelectAndLogIn();
    m_tests->Logout();
    ConsoleScript console;
    try {
        m_tests->TestPinChange(CKU_USER);
        FAIL() << "no exception";
    } catch (const CPKCSException& e) {
        EXPECT_EQ(e.m_function, "CTokenOperator::Logout");
        EXPECT_EQ(e.m_rv, static_cast<CK_RV>(CKR_USER_NOT_LOGGED_IN));
    }
    EXPECT_EQ(console.Output(), "INFO: Logging in with default PIN\n");
}

// --- Cleaning -----------------------------------------------------------------------------

class Cleaning : public TestsOperator {
protected:
    std::vector<CK_OBJECT_HANDLE> AddObjects(int count)
    {
        std::vector<CK_OBJECT_HANDLE> handles;
        for (int i = 0; i < count; ++i) {
            handles.push_back(fake::AddObject({fake::Ulong(CKA_CLASS, CKO_DATA), fake::Byte(CKA_ID, i)}));
        }
        return handles;
    }

    static std::vector<CK_OBJECT_HANDLE> Destroyed()
    {
        std::vector<CK_OBJECT_HANDLE> handles;
        for (const fake::Call& call : CallsOf("C_DestroyObject")) {
            handles.push_back(call.args.at(1));
        }
        return handles;
    }
};

TEST_F(Cleaning, EmptyTokenMakesOneSearchStepAndNoOutput)
{
    SelectAndLogIn();
    fake::ClearCalls();
    ConsoleScript console;
    m_tests->CleanCard();
    EXPECT_EQ(console.Output(), "");
    EXPECT_THAT(fake::CallNames(), ElementsAre("C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal"));
    EXPECT_THAT(fake::Calls().at(0).args, ElementsAre(m_tests->CurrentSession(), 0u, 0u));
}

TEST_F(Cleaning, DestroysEveryObjectInSearchOrderAfterTheSearch)
{
    const std::vector<CK_OBJECT_HANDLE> handles = AddObjects(3);
    SelectAndLogIn();
    fake::ClearCalls();
    ConsoleScript console;
    m_tests->CleanCard();
    EXPECT_EQ(console.Output(), "");
    EXPECT_THAT(fake::CallNames(),
                ElementsAre("C_FindObjectsInit", "C_FindObjects", "C_FindObjects", "C_FindObjects", "C_FindObjects",
                            "C_FindObjectsFinal", "C_DestroyObject", "C_DestroyObject", "C_DestroyObject"));
    EXPECT_EQ(Destroyed(), handles);
    EXPECT_TRUE(fake::Objects().empty());
}

TEST_F(Cleaning, FailedDestructionIsReportedAndTheRestGoOn)
{
    const std::vector<CK_OBJECT_HANDLE> handles = AddObjects(3);
    SelectAndLogIn();
    fake::Fail("C_DestroyObject", CKR_USER_NOT_LOGGED_IN, 2, true);
    ConsoleScript console;
    m_tests->CleanCard();
    EXPECT_EQ(console.Output(), "C_DestroyObject failed for " + std::to_string(handles[1]) + ". Code: 257\n");
    EXPECT_EQ(Destroyed(), handles);
    EXPECT_THAT(fake::Objects(), ElementsAre(handles[1]));
}

TEST_F(Cleaning, FailedSearchEndIsReportedAndObjectsStillGo)
{
    AddObjects(2);
    SelectAndLogIn();
    fake::Fail("C_FindObjectsFinal", CKR_FUNCTION_FAILED);
    ConsoleScript console;
    m_tests->CleanCard();
    EXPECT_EQ(console.Output(), "C_FindObjectsFinal failed. Code: 6\n");
    EXPECT_TRUE(fake::Objects().empty());
}

TEST_F(Cleaning, FailedSearchStepKeepsWhatWasFound)
{
    const std::vector<CK_OBJECT_HANDLE> handles = AddObjects(3);
    SelectAndLogIn();
    fake::ClearCalls();
    fake::Fail("C_FindObjects", CKR_DEVICE_ERROR, 2);
    ConsoleScript console;
    m_tests->CleanCard();
    EXPECT_EQ(console.Output(), "");
    EXPECT_THAT(Destroyed(), ElementsAre(handles[0]));
}

TEST_F(Cleaning, SearchThatCannotStartIsFatalAndClosesNothing)
{
    AddObjects(1);
    SelectAndLogIn();
    fake::ClearCalls();
    fake::Fail("C_FindObjectsInit", CKR_OPERATION_ACTIVE);
    try {
        m_tests->CleanCard();
        FAIL() << "no exception";
    } catch (const CPKCSException& e) {
        EXPECT_EQ(e.m_function, "C_FindObjectsInit in CTestsOperator::CleanCard");
        EXPECT_EQ(e.m_rv, static_cast<CK_RV>(CKR_OPERATION_ACTIVE));
    }
    EXPECT_THAT(fake::CallNames(), ElementsAre("C_FindObjectsInit"));
    EXPECT_EQ(fake::Objects().size(), 1u);
}

}  // namespace
