// The PIN guard through the tests operator: each PIN flag before each call that uses a PIN,
// and the temporary PIN set back after a failed PIN change test.
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ConsoleScript.h"
#include "FakeTokenFixture.h"
#include "support/CustomException.h"
#include "support/PKCSException.h"
#include "support/PinGuardException.h"

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct PinFlag {
    const char* name;
    CK_FLAGS flag;
    CK_USER_TYPE user;
    const char* message;   // empty: the flag never stops anything
};

struct PinUse {
    const char* name;
    CK_USER_TYPE user;   // whose PIN the call uses
    bool asSo;           // log in as the SO before the flag is set (C_SetPIN only)
    const char* entry;   // the call the guard must prevent
};

const PinFlag kFlags[] = {
    {"SoLocked", CKF_SO_PIN_LOCKED, CKU_SO, "SO PIN is locked: not trying it; reset the token's PIN before testing it"},
    {"SoFinalTry", CKF_SO_PIN_FINAL_TRY, CKU_SO,
     "SO PIN is at its final try: not trying it; reset the token's PIN before testing it"},
    {"UserLocked", CKF_USER_PIN_LOCKED, CKU_USER,
     "User PIN is locked: not trying it; reset the token's PIN before testing it"},
    {"UserFinalTry", CKF_USER_PIN_FINAL_TRY, CKU_USER,
     "User PIN is at its final try: not trying it; reset the token's PIN before testing it"},
    {"CountLowOnly", CKF_SO_PIN_COUNT_LOW | CKF_USER_PIN_COUNT_LOW, CKU_SO, ""},
};

const PinUse kUses[] = {
    {"InitToken", CKU_SO, false, "C_InitToken"},
    {"UserLogin", CKU_USER, false, "C_Login"},
    {"SoLogin", CKU_SO, false, "C_Login"},
    {"SetUserPin", CKU_USER, false, "C_SetPIN"},
    {"SetSoPin", CKU_SO, true, "C_SetPIN"},
};

class PinGuard : public FakeTokenFixture, public ::testing::WithParamInterface<std::tuple<PinFlag, PinUse>> {
protected:
    void Use(const PinUse& use)
    {
        const std::string entry = use.entry;
        if (entry == "C_InitToken") {
            m_tests->FormatToken();
        } else if (entry == "C_Login") {
            m_tests->Authenticate(DefaultPin(), use.user, CKF_RW_SESSION);
        } else {
            m_tests->ChangePin("52816037", "11223344");
        }
    }
};

TEST_P(PinGuard, StopsOnlyBeforeTheFlaggedPin)
{
    const PinFlag& flag = std::get<0>(GetParam());
    const PinUse& use = std::get<1>(GetParam());
    ASSERT_TRUE(m_tests->SelectSlot());
    if (std::string(use.entry) == "C_SetPIN") {
        ASSERT_TRUE(m_tests->Authenticate(DefaultPin(), use.asSo ? CKU_SO : CKU_USER, CKF_RW_SESSION));
    }
    fake::SetTokenFlags(fake::kDefaultTokenFlags | flag.flag);
    fake::ClearCalls();
    ConsoleScript console;

    const bool stops = *flag.message != '\0' && flag.user == use.user;
    if (stops) {
        try {
            Use(use);
            ADD_FAILURE() << "no exception";
        } catch (const CPinGuardException& e) {
            EXPECT_STREQ(e.what(), flag.message);
        }
        // The token was asked about itself and nothing else.
        for (const std::string& name : fake::CallNames()) {
            EXPECT_TRUE(name == "C_GetTokenInfo" || name == "C_GetSessionInfo") << name;
        }
    } else {
        Use(use);
        EXPECT_EQ(CallsOf(use.entry).size(), 1u);
        EXPECT_EQ(CallsOf(use.entry).at(0).rv, static_cast<CK_RV>(CKR_OK));
    }
    EXPECT_EQ(console.Output(), "");
}

INSTANTIATE_TEST_SUITE_P(FlagsAndCalls, PinGuard, ::testing::Combine(::testing::ValuesIn(kFlags), ::testing::ValuesIn(kUses)),
                         [](const ::testing::TestParamInfo<std::tuple<PinFlag, PinUse>>& info) {
                             return std::string(std::get<0>(info.param).name) + "Before" + std::get<1>(info.param).name;
                         });

// A token that is not initialised has no PINs yet: whatever PIN flags it shows (SoftHSM2
// shows a fresh token's SO PIN locked), every use goes ahead.
class UninitialisedToken : public PinGuard {};

TEST_P(UninitialisedToken, PinFlagsStopNothing)
{
    const PinUse& use = std::get<1>(GetParam());
    ASSERT_TRUE(m_tests->SelectSlot());
    if (std::string(use.entry) == "C_SetPIN") {
        ASSERT_TRUE(m_tests->Authenticate(DefaultPin(), use.asSo ? CKU_SO : CKU_USER, CKF_RW_SESSION));
    }
    fake::SetTokenFlags((fake::kDefaultTokenFlags & ~static_cast<CK_FLAGS>(CKF_TOKEN_INITIALIZED)) |
                        std::get<0>(GetParam()).flag);
    fake::ClearCalls();
    Use(use);
    ASSERT_EQ(CallsOf(use.entry).size(), 1u);
    EXPECT_EQ(CallsOf(use.entry).at(0).rv, static_cast<CK_RV>(CKR_OK));
}

INSTANTIATE_TEST_SUITE_P(FlagsAndCalls, UninitialisedToken,
                         ::testing::Combine(::testing::ValuesIn(kFlags), ::testing::ValuesIn(kUses)),
                         [](const ::testing::TestParamInfo<std::tuple<PinFlag, PinUse>>& info) {
                             return std::string(std::get<0>(info.param).name) + "Before" + std::get<1>(info.param).name;
                         });

TEST_F(FakeTokenFixture, HealthyTokenIsNotAskedForItsSessionState)
{
    SelectAndLogIn();
    fake::ClearCalls();
    m_tests->ChangePin("52816037", "11223344");
    EXPECT_THAT(fake::CallNames(), ElementsAre("C_GetTokenInfo", "C_SetPIN"));
}

TEST_F(FakeTokenFixture, UnknownSessionStateChecksBothPins)
{
    SelectAndLogIn();
    fake::SetTokenFlags(fake::kDefaultTokenFlags | CKF_SO_PIN_FINAL_TRY);
    fake::Fail("C_GetSessionInfo", CKR_FUNCTION_NOT_SUPPORTED);
    fake::ClearCalls();
    EXPECT_THROW(m_tests->ChangePin("52816037", "11223344"), CPinGuardException);
    EXPECT_TRUE(CallsOf("C_SetPIN").empty());
}

// --- The temporary PIN after a failure ----------------------------------------------------

struct PinChangeFailure {
    const char* name;
    CK_USER_TYPE user;
    const char* entry;   // fails from its Nth call of the PIN change test on
    int fromCall;
    bool once;
    const char* report;    // the exception's text
    bool restored;
};

void PrintTo(const PinChangeFailure& f, std::ostream* out) { *out << f.name; }

class TemporaryPin : public FakeTokenFixture, public ::testing::WithParamInterface<PinChangeFailure> {};

TEST_P(TemporaryPin, IsSetBackOnceAndTheLineSaysWhether)
{
    const PinChangeFailure& failure = GetParam();
    SelectAndLogIn();
    fake::ClearCalls();
    // Counted from the fixture's login on: Reset started the counts.
    fake::Fail(failure.entry, std::string(failure.entry) == "C_Login" ? CKR_PIN_INCORRECT : CKR_DEVICE_ERROR,
               failure.fromCall, failure.once);
    ConsoleScript console;
    std::string report;
    try {
        m_tests->TestPinChange(failure.user);
        FAIL() << "no exception";
    } catch (const CPKCSException& e) {
        report = e.m_function;
    } catch (const CustomException& e) {
        report = e.what();
    }
    EXPECT_EQ(report, failure.report);

    const std::string pin = failure.user == CKU_SO ? "SO PIN" : "user PIN";
    // The command for this PIN alone, with the module and slot of the run.
    const std::string login = failure.user == CKU_SO ? "--login --login-type so --so-pin" : "--login --pin";
    const std::string line =
        failure.restored
            ? "INFO: The " + pin + " was the temporary PIN 26074913 when the test failed; it is back to the default PIN "
                                   "52816037\n"
            : "ERROR: The " + pin + " is still the temporary PIN 26074913: setting it back to the default PIN 52816037 "
                                    "failed; restore it with: pkcs11-tool --module libnimb_pkcs11_main.so --slot 7 " +
                  login + " 26074913 --change-pin --new-pin 52816037\n";
    const std::string output = console.Output();
    ASSERT_GE(output.size(), line.size());
    EXPECT_EQ(output.substr(output.size() - line.size()), line);
    EXPECT_EQ(fake::Pin(failure.user), failure.restored ? "52816037" : "26074913");

    // The one restoring attempt: a login as the same user with the temporary PIN, then a
    // change from it to the default on that login's session.
    const std::vector<fake::Call> logins = CallsOf("C_Login");
    ASSERT_FALSE(logins.empty());
    EXPECT_EQ(logins.back().args.at(1), failure.user);
    EXPECT_EQ(logins.back().buffers.at(0), BytesOf("26074913"));
    const std::vector<fake::Call> changes = CallsOf("C_SetPIN");
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.back().args.at(0), logins.back().args.at(0));
    EXPECT_EQ(changes.back().buffers.at(0), BytesOf("26074913"));
    EXPECT_EQ(changes.back().buffers.at(1), BytesOf("52816037"));
    EXPECT_EQ(fake::CallNames().back(), "C_SetPIN");
}

INSTANTIATE_TEST_SUITE_P(
    Failures, TemporaryPin,
    ::testing::Values(
        // Login 1 was the fixture's, login 2 the one with the default PIN.
        PinChangeFailure{"UserNewPinRefused", CKU_USER, "C_Login", 3, true,
                         "Can not authenticate into token using new PIN", true},
        PinChangeFailure{"SoNewPinRefused", CKU_SO, "C_Login", 3, true, "Can not authenticate into token using new PIN",
                         true},
        PinChangeFailure{"SoChangeBackFails", CKU_SO, "C_SetPIN", 2, true, "CTokenOperator::ChangePin", true},
        PinChangeFailure{"UserLogoutFails", CKU_USER, "C_Logout", 2, true, "CTokenOperator::Logout", true},
        PinChangeFailure{"UserChangeBackKeepsFailing", CKU_USER, "C_SetPIN", 2, false, "CTokenOperator::ChangePin",
                         false},
        PinChangeFailure{"SoChangeBackKeepsFailing", CKU_SO, "C_SetPIN", 2, false, "CTokenOperator::ChangePin", false}),
    [](const ::testing::TestParamInfo<PinChangeFailure>& info) { return std::string(info.param.name); });

TEST_F(FakeTokenFixture, FailureBeforeTheChangeLeavesThePinAlone)
{
    SelectAndLogIn();
    fake::Fail("C_SetPIN", CKR_DEVICE_ERROR);
    ConsoleScript console;
    EXPECT_THROW(m_tests->TestPinChange(CKU_SO), CPKCSException);
    EXPECT_EQ(console.Output(), "INFO: Logging in with default PIN\n");
    EXPECT_EQ(CallsOf("C_SetPIN").size(), 1u);
    EXPECT_EQ(CallsOf("C_Login").size(), 2u);
}

}  // namespace
