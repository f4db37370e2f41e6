// Token initialisation, sessions, the login state machine, PIN changes and PIN locking.
#include "SoftTokenFixture.h"

#include <cstring>

namespace softtoken_test {
namespace {

const Bytes kOtherPin = {'2', '6', '0', '7', '4', '9', '1', '3'};
const Bytes kWrongPin = {'0', '0', '0', '0', '0', '0'};

CK_STATE StateOf(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session) {
    CK_SESSION_INFO info{};
    EXPECT_RV(CKR_OK, f->C_GetSessionInfo(session, &info));
    return info.state;
}

CK_RV SetPin(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session, const Bytes& oldPin, const Bytes& newPin) {
    return f->C_SetPIN(session, const_cast<CK_UTF8CHAR*>(oldPin.data()), oldPin.size(),
                       const_cast<CK_UTF8CHAR*>(newPin.data()), newPin.size());
}

TEST_F(SoftTokenTest, InitTokenRefusals) {
    CK_UTF8CHAR label[32];
    std::memset(label, ' ', 32);
    Bytes pin = kDefaultPin;
    EXPECT_RV(CKR_ARGUMENTS_BAD, f->C_InitToken(0, pin.data(), pin.size(), nullptr));
    EXPECT_RV(CKR_SLOT_ID_INVALID, f->C_InitToken(5, pin.data(), pin.size(), label));
    Bytes shortPin = {'1', '2', '3'};
    EXPECT_RV(CKR_PIN_LEN_RANGE, f->C_InitToken(0, shortPin.data(), shortPin.size(), label));
    Bytes longPin(33, '1');
    EXPECT_RV(CKR_PIN_LEN_RANGE, f->C_InitToken(0, longPin.data(), longPin.size(), label));
    InitToken();

    CK_SESSION_HANDLE session = Open();
    EXPECT_RV(CKR_SESSION_EXISTS, f->C_InitToken(0, pin.data(), pin.size(), label));
    ASSERT_RV(CKR_OK, f->C_CloseSession(session));
    Bytes wrong = kWrongPin;
    EXPECT_RV(CKR_PIN_INCORRECT, f->C_InitToken(0, wrong.data(), wrong.size(), label));
    EXPECT_RV(CKR_OK, f->C_InitToken(0, pin.data(), pin.size(), label));
}

TEST_F(SoftTokenTest, InitTokenDestroysObjectsAndGivesTheUserTheSoPin) {
    CK_SESSION_HANDLE session = LoginUser();
    CreateData(session, true, false, "public");
    CreateData(session, true, true, "private");
    ASSERT_EQ(2u, FindAll(session).size());
    ASSERT_RV(CKR_OK, SetPin(f, session, kDefaultPin, kOtherPin));
    ASSERT_RV(CKR_OK, f->C_CloseAllSessions(0));
    InitToken();
    session = Open();
    EXPECT_RV(CKR_PIN_INCORRECT, Login(session, CKU_USER, kOtherPin));
    ASSERT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
    EXPECT_TRUE(FindAll(session).empty());
}

TEST_F(SoftTokenTest, SessionsNeedTheSerialFlagAndNeverReuseHandles) {
    InitToken();
    CK_SESSION_HANDLE handle = 0;
    EXPECT_RV(CKR_SESSION_PARALLEL_NOT_SUPPORTED, f->C_OpenSession(0, CKF_RW_SESSION, nullptr, nullptr, &handle));
    EXPECT_RV(CKR_SLOT_ID_INVALID, f->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &handle));
    CK_SESSION_HANDLE first = Open();
    ASSERT_RV(CKR_OK, f->C_CloseSession(first));
    CK_SESSION_HANDLE second = Open();
    EXPECT_NE(first, second);
    Reinitialize();
    CK_SESSION_HANDLE third = Open();
    EXPECT_NE(first, third);
    EXPECT_NE(second, third);
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, f->C_CloseSession(second));
}

TEST_F(SoftTokenTest, LoginStateMachine) {
    InitToken();
    CK_SESSION_HANDLE rw = Open(true);
    CK_SESSION_HANDLE ro = Open(false);
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, StateOf(f, rw));
    EXPECT_EQ(CKS_RO_PUBLIC_SESSION, StateOf(f, ro));
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, f->C_Logout(rw));
    EXPECT_RV(CKR_USER_TYPE_INVALID, Login(rw, 7, kDefaultPin));
    EXPECT_RV(CKR_SESSION_READ_ONLY_EXISTS, Login(rw, CKU_SO, kDefaultPin));

    ASSERT_RV(CKR_OK, Login(ro, CKU_USER, kDefaultPin));
    // One login serves every session of the token.
    EXPECT_EQ(CKS_RW_USER_FUNCTIONS, StateOf(f, rw));
    EXPECT_EQ(CKS_RO_USER_FUNCTIONS, StateOf(f, ro));
    EXPECT_RV(CKR_USER_ALREADY_LOGGED_IN, Login(rw, CKU_USER, kDefaultPin));
    EXPECT_RV(CKR_USER_ANOTHER_ALREADY_LOGGED_IN, Login(rw, CKU_SO, kDefaultPin));
    ASSERT_RV(CKR_OK, f->C_Logout(rw));
    EXPECT_EQ(CKS_RO_PUBLIC_SESSION, StateOf(f, ro));

    ASSERT_RV(CKR_OK, f->C_CloseSession(ro));
    ASSERT_RV(CKR_OK, Login(rw, CKU_SO, kDefaultPin));
    EXPECT_EQ(CKS_RW_SO_FUNCTIONS, StateOf(f, rw));
    CK_SESSION_HANDLE handle = 0;
    EXPECT_RV(CKR_SESSION_READ_WRITE_SO_EXISTS, f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &handle));
    EXPECT_RV(CKR_USER_ANOTHER_ALREADY_LOGGED_IN, Login(rw, CKU_USER, kDefaultPin));

    // Closing the last session ends the login.
    ASSERT_RV(CKR_OK, f->C_CloseAllSessions(0));
    CK_SESSION_HANDLE again = Open();
    EXPECT_EQ(CKS_RW_PUBLIC_SESSION, StateOf(f, again));
}

TEST_F(SoftTokenTest, UninitialisedTokenHasNoUserPin) {
    CK_SESSION_HANDLE session = Open();
    EXPECT_RV(CKR_USER_PIN_NOT_INITIALIZED, Login(session, CKU_USER, kDefaultPin));
}

// The utility's PIN test: user and SO PINs each changed and changed back.
TEST_F(SoftTokenTest, PinChangeForUserAndSecurityOfficer) {
    InitToken();
    for (CK_USER_TYPE user : {CKU_USER, CKU_SO}) {
        SCOPED_TRACE(user);
        CK_SESSION_HANDLE session = Open();
        ASSERT_RV(CKR_OK, Login(session, user, kDefaultPin));
        EXPECT_RV(CKR_PIN_INCORRECT, SetPin(f, session, kWrongPin, kOtherPin));
        EXPECT_RV(CKR_PIN_LEN_RANGE, SetPin(f, session, kDefaultPin, {'1'}));
        ASSERT_RV(CKR_OK, SetPin(f, session, kDefaultPin, kOtherPin));
        ASSERT_RV(CKR_OK, f->C_Logout(session));
        EXPECT_RV(CKR_PIN_INCORRECT, Login(session, user, kDefaultPin));
        ASSERT_RV(CKR_OK, Login(Open(), user, kOtherPin));
        ASSERT_RV(CKR_OK, SetPin(f, session, kOtherPin, kDefaultPin));
        ASSERT_RV(CKR_OK, f->C_Logout(session));
    }
    // The other PIN was untouched by each change.
    CK_SESSION_HANDLE session = Open();
    ASSERT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
}

TEST_F(SoftTokenTest, SetPinNeedsAReadWriteSessionAndWorksUnloggedForTheUser) {
    InitToken();
    CK_SESSION_HANDLE ro = Open(false);
    EXPECT_RV(CKR_SESSION_READ_ONLY, SetPin(f, ro, kDefaultPin, kOtherPin));
    CK_SESSION_HANDLE rw = Open(true);
    ASSERT_RV(CKR_OK, SetPin(f, rw, kDefaultPin, kOtherPin));
    EXPECT_RV(CKR_OK, Login(rw, CKU_USER, kOtherPin));
    Bytes pin = kOtherPin;
    EXPECT_RV(CKR_ARGUMENTS_BAD, f->C_SetPIN(rw, nullptr, 4, pin.data(), pin.size()));
}

TEST_F(SoftTokenTest, UserPinLocksAfterTenFailuresUntilTheSoSetsIt) {
    InitToken();
    CK_SESSION_HANDLE session = Open();
    for (int i = 0; i < 9; ++i) ASSERT_RV(CKR_PIN_INCORRECT, Login(session, CKU_USER, kWrongPin));
    CK_TOKEN_INFO info;
    ASSERT_RV(CKR_OK, f->C_GetTokenInfo(0, &info));
    EXPECT_TRUE(info.flags & CKF_USER_PIN_FINAL_TRY);
    ASSERT_RV(CKR_PIN_INCORRECT, Login(session, CKU_USER, kWrongPin));
    // Locked even for the right PIN, and across a restart of the library.
    EXPECT_RV(CKR_PIN_LOCKED, Login(session, CKU_USER, kDefaultPin));
    Reinitialize();
    session = Open();
    EXPECT_RV(CKR_PIN_LOCKED, Login(session, CKU_USER, kDefaultPin));
    ASSERT_RV(CKR_OK, f->C_GetTokenInfo(0, &info));
    EXPECT_TRUE(info.flags & CKF_USER_PIN_LOCKED);

    ASSERT_RV(CKR_OK, Login(session, CKU_SO, kDefaultPin));
    Bytes newPin = kOtherPin;
    ASSERT_RV(CKR_OK, f->C_InitPIN(session, newPin.data(), newPin.size()));
    ASSERT_RV(CKR_OK, f->C_Logout(session));
    ASSERT_RV(CKR_OK, Login(session, CKU_USER, kOtherPin));
    ASSERT_RV(CKR_OK, f->C_GetTokenInfo(0, &info));
    EXPECT_FALSE(info.flags & (CKF_USER_PIN_LOCKED | CKF_USER_PIN_COUNT_LOW));
}

TEST_F(SoftTokenTest, RightPinResetsTheFailureCount) {
    InitToken();
    CK_SESSION_HANDLE session = Open();
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 9; ++i) ASSERT_RV(CKR_PIN_INCORRECT, Login(session, CKU_USER, kWrongPin));
        ASSERT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
        ASSERT_RV(CKR_OK, f->C_Logout(session));
    }
}

TEST_F(SoftTokenTest, SoPinHasItsOwnLock) {
    InitToken();
    CK_SESSION_HANDLE session = Open();
    for (int i = 0; i < 10; ++i) ASSERT_RV(CKR_PIN_INCORRECT, Login(session, CKU_SO, kWrongPin));
    EXPECT_RV(CKR_PIN_LOCKED, Login(session, CKU_SO, kDefaultPin));
    EXPECT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
    CK_TOKEN_INFO info;
    ASSERT_RV(CKR_OK, f->C_GetTokenInfo(0, &info));
    EXPECT_TRUE(info.flags & CKF_SO_PIN_LOCKED);
    EXPECT_FALSE(info.flags & CKF_USER_PIN_LOCKED);
}

TEST_F(SoftTokenTest, InitPinNeedsTheSecurityOfficer) {
    CK_SESSION_HANDLE session = LoginUser();
    Bytes pin = kOtherPin;
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, f->C_InitPIN(session, pin.data(), pin.size()));
    ASSERT_RV(CKR_OK, f->C_Logout(session));
    ASSERT_RV(CKR_OK, Login(session, CKU_SO, kDefaultPin));
    Bytes shortPin = {'1'};
    EXPECT_RV(CKR_PIN_LEN_RANGE, f->C_InitPIN(session, shortPin.data(), shortPin.size()));
}

}  // namespace
}  // namespace softtoken_test
