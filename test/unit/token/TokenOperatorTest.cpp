// The token access layer against the scripted fake module, loaded in this process.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "ConsoleScript.h"
#include "FakeModule.h"
#include "support/CustomException.h"
#include "support/PKCSException.h"
#include "token/TokenOperator.h"

namespace {

using Pin = std::vector<unsigned char>;

Pin MakePin(const std::string& text) { return Pin(text.begin(), text.end()); }

const Pin kDefaultPin = MakePin("52816037");
const unsigned long kRw = CKF_RW_SESSION;

class TokenOperatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        op.Initialize();
    }
    void TearDown() override { op.Finalize(); }

    // Runs the action, expecting the PKCS#11 failure it throws.
    static void ExpectPkcsError(const std::function<void()>& action, CK_RV rv, const std::string& function)
    {
        try {
            action();
            ADD_FAILURE() << "no exception, expected " << function;
        } catch (const CPKCSException& e) {
            EXPECT_EQ(e.m_rv, rv);
            EXPECT_EQ(e.m_function, function);
        }
    }

    const fake::Call* LastCall(const std::string& name)
    {
        const auto& calls = fake::Calls();
        for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
            if (it->name == name) return &*it;
        }
        return nullptr;
    }

    CTokenOperator op;
};

// ---- slot discovery and selection ----

TEST_F(TokenOperatorTest, NoTokenInAnySlotSelectsNothingSilently)
{
    fake::AddSlot(1, "Empty reader", false);
    ConsoleScript console("0\n");
    EXPECT_FALSE(op.SelectSlot());
    EXPECT_EQ(console.Output(), "");
    EXPECT_EQ(console.RemainingInput(), "0\n");
}

TEST_F(TokenOperatorTest, OneSlotIsTakenWithoutPrompt)
{
    fake::AddSlot(3, "Empty reader", false);
    fake::AddSlot(17, "Reader A");
    ConsoleScript console("1\n");
    EXPECT_TRUE(op.SelectSlot());
    EXPECT_EQ(op.CurrentSlot(), 17u);
    EXPECT_EQ(console.Output(), "Selected slot: Reader A\r\n");
    EXPECT_EQ(console.RemainingInput(), "1\n");
    const fake::Call* list = LastCall("C_GetSlotList");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->args[0], CK_TRUE);
}

const char kTwoSlotList[] =
    "Slots with tokens:\r\n"
    "[0] : First reader (label \"Fake token\", serial number \"SN-42\")\n"
    "[1] : Second reader (label \"Fake token\", serial number \"\")\n";
const char kSlotPrompt[] = "\r\nPlease enter slot number: ";

struct SlotAnswer {
    const char* input;
    CK_SLOT_ID selected;   // 0: none, the read ends in an exception
    int prompts;
    const char* left;   // input left for the next read
};

void PrintTo(const SlotAnswer& a, std::ostream* out) { *out << "input \"" << a.input << "\""; }

class TwoSlots : public TokenOperatorTest {
protected:
    void SetUp() override
    {
        TokenOperatorTest::SetUp();
        fake::AddSlot(42, "First reader");
        fake::AddSlot(7, "Second reader");
        fake::SetSerialNumber(42, "SN-42");
    }
};

class SlotDialogue : public TwoSlots, public ::testing::WithParamInterface<SlotAnswer> {};

TEST_P(SlotDialogue, AnswerSelectsPositionNotId)
{
    ConsoleScript console(GetParam().input);
    std::string expected = kTwoSlotList;
    for (int i = 0; i < GetParam().prompts; ++i) expected += kSlotPrompt;
    if (GetParam().selected == 0) {
        try {
            op.SelectSlot();
            ADD_FAILURE() << "no exception";
        } catch (const CustomException& e) {
            EXPECT_STREQ(e.what(), "end of input while reading the slot number");
        }
        // The prompt's line is ended, so that the report has a line of its own.
        expected += "\n";
        // Nothing but the queries: no token is touched before the answer.
        for (const fake::Call& call : fake::Calls()) {
            EXPECT_TRUE(call.name == "C_GetFunctionList" || call.name == "C_Initialize" ||
                        call.name == "C_GetSlotList" || call.name == "C_GetSlotInfo" || call.name == "C_GetTokenInfo")
                << call.name;
        }
    } else {
        ASSERT_TRUE(op.SelectSlot());
        EXPECT_EQ(op.CurrentSlot(), GetParam().selected);
        expected += GetParam().selected == 7 ? "Selected slot: Second reader\r\n" : "Selected slot: First reader\r\n";
    }
    EXPECT_EQ(console.Output(), expected);
    EXPECT_EQ(console.RemainingInput(), GetParam().left);
}

INSTANTIATE_TEST_SUITE_P(Answers, SlotDialogue,
                         ::testing::Values(SlotAnswer{"1\n", 7, 1, ""},
                                           SlotAnswer{"0\n", 42, 1, ""},
                                           // One line is read per answer, no more.
                                           SlotAnswer{"1\nleft\n", 7, 1, "left\n"},
                                           SlotAnswer{"5\n1\n", 7, 2, ""},
                                           // Blanks around the number are allowed; a line
                                           // without a number asks again.
                                           SlotAnswer{"  \n\n 1 \n", 7, 3, ""},
                                           // Anything but one whole decimal number on the
                                           // line asks again: a typo never chooses a slot.
                                           SlotAnswer{"2 1\n1\n", 7, 2, ""},
                                           SlotAnswer{"0x1\n1\n", 7, 2, ""},
                                           SlotAnswer{"1abc\n0\n", 42, 2, ""},
                                           SlotAnswer{"abc def\n1\n", 7, 2, ""},
                                           SlotAnswer{"x\ny\n0\n", 42, 3, ""},
                                           SlotAnswer{"-1\n1\n", 7, 2, ""},
                                           SlotAnswer{"99999999999999999999999\n1\n", 7, 2, ""},
                                           // End of input: an exception, never a chosen slot.
                                           SlotAnswer{"", 0, 1, ""},
                                           SlotAnswer{"5", 0, 2, ""},
                                           SlotAnswer{"abc", 0, 2, ""},
                                           SlotAnswer{"abc def\n1234\n", 0, 3, ""}));

struct SlotQueryFailure {
    const char* entry;
    int fromCall;
    const char* output;   // all that is written before the exception
};

void PrintTo(const SlotQueryFailure& f, std::ostream* out) { *out << f.entry << " call " << f.fromCall; }

class SlotQueryFailures : public TwoSlots, public ::testing::WithParamInterface<SlotQueryFailure> {};

TEST_P(SlotQueryFailures, LeaveNoHalfLine)
{
    fake::Fail(GetParam().entry, CKR_DEVICE_ERROR, GetParam().fromCall, true);
    ConsoleScript console("1\n");
    EXPECT_THROW(op.SelectSlot(), CPKCSException);
    EXPECT_EQ(console.Output(), GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(Queries, SlotQueryFailures,
                         ::testing::Values(
                             // While the list is read: nothing of it is written.
                             SlotQueryFailure{"C_GetSlotInfo", 2, ""},
                             SlotQueryFailure{"C_GetTokenInfo", 2, ""},
                             // The chosen slot's name: the line "Selected slot: " is not begun.
                             SlotQueryFailure{"C_GetSlotInfo", 3, "Slots with tokens:\r\n"
                                                                  "[0] : First reader (label \"Fake token\", serial "
                                                                  "number \"SN-42\")\n"
                                                                  "[1] : Second reader (label \"Fake token\", serial "
                                                                  "number \"\")\n"
                                                                  "\r\nPlease enter slot number: "}));

TEST_F(TokenOperatorTest, OneSlotNameFailureWritesNothingBeforeTheReport)
{
    fake::AddSlot(17, "Reader A");
    fake::Fail("C_GetSlotInfo", CKR_DEVICE_ERROR);
    ConsoleScript console;
    ExpectPkcsError([&] { op.SelectSlot(); }, CKR_DEVICE_ERROR, "CTokenOperator::GetSlotName");
    EXPECT_EQ(console.Output(), "");
}

// ---- --slot and --list-slots ----

TEST_F(TokenOperatorTest, FixedSlotIsTakenWithoutPrompt)
{
    fake::AddSlot(42, "First reader");
    fake::AddSlot(7, "Second reader");
    op.UseSlot(7);
    ConsoleScript console("0\n");
    ASSERT_TRUE(op.SelectSlot());
    EXPECT_EQ(op.CurrentSlot(), 7u);
    EXPECT_EQ(console.Output(), "Selected slot: Second reader\r\n");
    EXPECT_EQ(console.RemainingInput(), "0\n");
}

TEST_F(TokenOperatorTest, FixedSlotWithoutTokenNamesTheSlotsThatHaveOne)
{
    struct Case {
        CK_SLOT_ID fixed;
        bool secondPresent;
        const char* message;
    };
    const Case cases[] = {
        {5, true, "slot 5 holds no token (slots with a token: 42, 7)"},
        {3, true, "slot 3 holds no token (slots with a token: 42, 7)"},
        {3, false, "slot 3 holds no token (slots with a token: 42)"},
    };
    for (const Case& c : cases) {
        fake::Reset();
        ASSERT_EQ(op.FunctionList()->C_Initialize(nullptr), CKR_OK);
        fake::AddSlot(42, "First reader");
        fake::AddSlot(7, "Second reader", c.secondPresent);
        fake::AddSlot(3, "Empty reader", false);
        op.UseSlot(c.fixed);
        ConsoleScript console;
        try {
            op.SelectSlot();
            ADD_FAILURE() << "no exception for slot " << c.fixed;
        } catch (const CustomException& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
        EXPECT_EQ(console.Output(), "");
    }
    fake::Reset();
    ASSERT_EQ(op.FunctionList()->C_Initialize(nullptr), CKR_OK);
    op.UseSlot(0);
    try {
        op.SelectSlot();
        ADD_FAILURE() << "no exception without slots";
    } catch (const CustomException& e) {
        EXPECT_STREQ(e.what(), "slot 0 holds no token (no slot holds a token)");
    }
}

TEST_F(TokenOperatorTest, ListSlotsShowsEverySlotAndTouchesNoToken)
{
    fake::AddSlot(3, "Empty reader", false);
    fake::AddSlot(42, "First reader");
    fake::SetSerialNumber(42, "SN-42");
    fake::SetTokenFlags(CKF_TOKEN_INITIALIZED | CKF_LOGIN_REQUIRED | CKF_SO_PIN_COUNT_LOW | CKF_SO_PIN_FINAL_TRY |
                        CKF_USER_PIN_LOCKED);
    ConsoleScript console("0\n");
    op.ListSlots();
    EXPECT_EQ(console.Output(),
              "Slot 3: Empty reader\r\n"
              "  no token\r\n"
              "Slot 42: First reader\r\n"
              "  label \"Fake token\", manufacturer \"Fake manufacturer\", model \"Fake model\", serial number "
              "\"SN-42\"\r\n"
              "  initialized: yes, user PIN initialized: no, login required: yes\r\n"
              "  SO PIN: count low, final try, user PIN: locked\r\n");
    EXPECT_EQ(console.RemainingInput(), "0\n");
    EXPECT_EQ(fake::CallNames(), (std::vector<std::string>{"C_GetFunctionList", "C_Initialize", "C_GetSlotList",
                                                           "C_GetSlotList", "C_GetSlotInfo", "C_GetSlotInfo",
                                                           "C_GetTokenInfo"}));
    EXPECT_EQ(fake::Calls().at(2).args.at(0), static_cast<CK_ULONG>(CK_FALSE));
}

TEST_F(TokenOperatorTest, ListSlotsWithoutSlotsSaysSo)
{
    ConsoleScript console;
    op.ListSlots();
    EXPECT_EQ(console.Output(), "No slots.\r\n");
}

TEST_F(TokenOperatorTest, ListSlotsReportsAFailingTokenQuery)
{
    fake::AddSlot(42, "First reader");
    fake::Fail("C_GetTokenInfo", CKR_DEVICE_ERROR);
    ConsoleScript console;
    ExpectPkcsError([&] { op.ListSlots(); }, CKR_DEVICE_ERROR, "CTokenOperator::ListSlots");
    EXPECT_EQ(console.Output(), "");
}

TEST_F(TokenOperatorTest, AskForSlotWithEmptyListThrows)
{
    ConsoleScript console;
    try {
        op.AskForSlot({});
        ADD_FAILURE() << "no exception";
    } catch (const CustomException& e) {
        EXPECT_STREQ(e.what(), "CTokenOperator::AskForSlot : no tokens inserted (slots.size() == 0)");
    }
    EXPECT_EQ(console.Output(), "");
}

struct Description {
    std::string given;   // as the module holds it, blank-padded to 64 bytes
    std::string shown;
};

TEST_F(TokenOperatorTest, SlotNameIsTheDescriptionWithoutTrailingBlanks)
{
    const Description cases[] = {
        {"ABCDEFGH", "ABCDEFGH"},
        {std::string(64, 'x'), std::string(64, 'x')},
        {std::string(63, 'y') + " ", std::string(63, 'y')},
        {"Reader  with inner   blanks", "Reader  with inner   blanks"},
        {"  leading", "  leading"},
        {std::string("abc\0def", 7), "abc"},
        {std::string("ab \0zz", 6), "ab"},
        {"", ""},
        {std::string("\0", 1), ""},
        {"tab\t", "tab\t"},
    };
    CK_SLOT_ID id = 100;
    for (const Description& c : cases) {
        fake::AddSlot(id, c.given);
        EXPECT_EQ(op.GetSlotName(id), c.shown) << "description \"" << c.given << "\"";
        ++id;
    }
}

TEST_F(TokenOperatorTest, SlotListIsCutToTheSecondCount)
{
    fake::AddSlot(4, "A");
    fake::AddSlot(9, "B");
    fake::AddSlot(5, "gone", false);
    fake::SetReportedLength("C_GetSlotList", 3);
    EXPECT_EQ(op.GetSlotsWithToken(), (std::vector<CK_SLOT_ID>{4, 9}));
}

TEST_F(TokenOperatorTest, SlotCountGrowingBetweenTheCallsIsThrown)
{
    fake::AddSlot(4, "A");
    fake::AddSlot(9, "B");
    fake::SetReportedLength("C_GetSlotList", 1);   // as if the second token came in between
    ExpectPkcsError([&] { op.GetSlotsWithToken(); }, CKR_BUFFER_TOO_SMALL, "CTokenOperator::GetSlotsWithToken");
    const fake::Call* second = LastCall("C_GetSlotList");
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(second->outputNull);
    EXPECT_EQ(second->args[1], 1u);   // the room the caller really had
}

TEST_F(TokenOperatorTest, NoSlotAtAllAsksOnlyOnce)
{
    EXPECT_TRUE(op.GetSlotsWithToken().empty());
    EXPECT_EQ(fake::CallNames(), (std::vector<std::string>{"C_GetFunctionList", "C_Initialize", "C_GetSlotList"}));
}

// ---- module errors and the operation names they carry ----

struct ModuleError {
    const char* entry;
    int fromCall;
    std::function<void(CTokenOperator&)> action;
    const char* function;
};

void PrintTo(const ModuleError& e, std::ostream* out) { *out << e.entry << " call " << e.fromCall; }

class ModuleErrors : public TokenOperatorTest, public ::testing::WithParamInterface<ModuleError> {};

TEST_P(ModuleErrors, CarryTheCodeAndTheOperationName)
{
    fake::AddSlot(2, "Reader");
    fake::AddSlot(3, "Second");
    op.SetCurrentSlot(2);
    fake::Fail(GetParam().entry, CKR_DEVICE_ERROR, GetParam().fromCall);
    ConsoleScript console("0\n");
    ExpectPkcsError([&] { GetParam().action(op); }, CKR_DEVICE_ERROR, GetParam().function);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, ModuleErrors,
    ::testing::Values(
        ModuleError{"C_GetSlotList", 1, [](CTokenOperator& o) { o.SelectSlot(); }, "CTokenOperator::GetSlotsWithToken"},
        ModuleError{"C_GetSlotList", 2, [](CTokenOperator& o) { o.SelectSlot(); }, "CTokenOperator::GetSlotsWithToken"},
        ModuleError{"C_GetSlotInfo", 1, [](CTokenOperator& o) { o.SelectSlot(); }, "CTokenOperator::GetSlotName"},
        ModuleError{"C_GetSlotInfo", 3, [](CTokenOperator& o) { o.SelectSlot(); }, "CTokenOperator::GetSlotName"},
        ModuleError{"C_GetTokenInfo", 1, [](CTokenOperator& o) { o.CheckToken(); }, "CTokenOperator::CheckToken"},
        ModuleError{"C_OpenSession", 1, [](CTokenOperator& o) { o.Authenticate(kDefaultPin, CKU_USER, kRw); },
                    "CTokenOperator::Authenticate"},
        ModuleError{"C_Login", 1, [](CTokenOperator& o) { o.Authenticate(kDefaultPin, CKU_USER, kRw); },
                    "CTokenOperator::Authenticate"},
        ModuleError{"C_Logout", 1, [](CTokenOperator& o) { o.Logout(); }, "CTokenOperator::Logout"},
        ModuleError{"C_CloseAllSessions", 1, [](CTokenOperator& o) { o.CloseAllSessions(); },
                    "CTokenOperator::CloseAllSessions"}));

// ---- sessions and login ----

TEST_F(TokenOperatorTest, LoginOpensASerialSessionAndSendsThePinBytes)
{
    fake::AddSlot(2, "Reader");
    op.SetCurrentSlot(2);
    ConsoleScript console;
    EXPECT_TRUE(op.Authenticate(kDefaultPin, CKU_SO, kRw));
    EXPECT_EQ(console.Output(), "");
    EXPECT_EQ(fake::CallNames(),
              (std::vector<std::string>{"C_GetFunctionList", "C_Initialize", "C_GetTokenInfo", "C_OpenSession",
                                        "C_Login"}));
    const fake::Call* open = LastCall("C_OpenSession");
    EXPECT_EQ(open->args, (std::vector<CK_ULONG>{2, CKF_SERIAL_SESSION | CKF_RW_SESSION}));
    const fake::Call* login = LastCall("C_Login");
    EXPECT_EQ(login->args, (std::vector<CK_ULONG>{op.CurrentSession(), CKU_SO}));
    EXPECT_EQ(login->buffers[0], kDefaultPin);
    EXPECT_EQ(fake::LoggedInUser(), CKU_SO);
}

TEST_F(TokenOperatorTest, WrongPinLeavesTheNewSessionCurrent)
{
    fake::AddSlot(2, "Reader");
    op.SetCurrentSlot(2);
    ConsoleScript console;
    EXPECT_FALSE(op.Authenticate(MakePin("0000"), CKU_USER, kRw));
    EXPECT_EQ(console.Output(), "Incorrect PIN\n");
    ASSERT_EQ(fake::OpenSessions().size(), 1u);
    EXPECT_EQ(op.CurrentSession(), fake::OpenSessions()[0]);
    EXPECT_FALSE(fake::LoggedInUser());

    EXPECT_TRUE(op.Authenticate(kDefaultPin, CKU_USER, kRw));
    ASSERT_EQ(fake::OpenSessions().size(), 2u);   // the first one stays open
    EXPECT_EQ(op.CurrentSession(), fake::OpenSessions()[1]);
}

TEST_F(TokenOperatorTest, SecondLoginWithoutLogoutIsAnError)
{
    fake::AddSlot(2, "Reader");
    op.SetCurrentSlot(2);
    ASSERT_TRUE(op.Authenticate(kDefaultPin, CKU_USER, kRw));
    ExpectPkcsError([&] { op.Authenticate(kDefaultPin, CKU_USER, kRw); }, 0x100, "CTokenOperator::Authenticate");
}

TEST_F(TokenOperatorTest, EmptyPinIsSentWithLengthZero)
{
    fake::AddSlot(2, "Reader");
    fake::SetPin(CKU_USER, "");
    op.SetCurrentSlot(2);
    EXPECT_TRUE(op.Authenticate(Pin(), CKU_USER, kRw));
    EXPECT_TRUE(LastCall("C_Login")->buffers[0].value_or(Pin()).empty());
}

TEST_F(TokenOperatorTest, RemovedTokenFailsBeforeAnySessionIsOpened)
{
    fake::AddSlot(2, "Reader");
    op.SetCurrentSlot(2);
    fake::SetTokenPresent(2, false);
    ExpectPkcsError([&] { op.Authenticate(kDefaultPin, CKU_USER, kRw); }, CKR_TOKEN_NOT_PRESENT,
                    "CTokenOperator::CheckToken");
    ConsoleScript console("52816037\n");
    ExpectPkcsError([&] { op.Authenticate(kRw); }, CKR_TOKEN_NOT_PRESENT, "CTokenOperator::CheckToken");
    EXPECT_EQ(console.Output(), "");   // no PIN prompt either
    EXPECT_EQ(LastCall("C_OpenSession"), nullptr);
    EXPECT_TRUE(fake::OpenSessions().empty());
}

TEST_F(TokenOperatorTest, LogoutUsesTheCurrentSession)
{
    fake::AddSlot(2, "Reader");
    op.SetCurrentSlot(2);
    ASSERT_TRUE(op.Authenticate(kDefaultPin, CKU_USER, kRw));
    op.Logout();
    EXPECT_EQ(LastCall("C_Logout")->args[0], op.CurrentSession());
    ExpectPkcsError([&] { op.Logout(); }, CKR_USER_NOT_LOGGED_IN, "CTokenOperator::Logout");
    op.SetCurrentSession(9999);
    ExpectPkcsError([&] { op.Logout(); }, CKR_SESSION_HANDLE_INVALID, "CTokenOperator::Logout");
}

TEST_F(TokenOperatorTest, CloseAllSessionsClosesTheSlotsSessions)
{
    fake::AddSlot(2, "Reader");
    op.SetCurrentSlot(2);
    ASSERT_FALSE(op.Authenticate(MakePin("bad"), CKU_USER, kRw));
    ASSERT_TRUE(op.Authenticate(kDefaultPin, CKU_USER, kRw));
    op.CloseAllSessions();
    EXPECT_TRUE(fake::OpenSessions().empty());
    EXPECT_EQ(LastCall("C_CloseAllSessions")->args[0], 2u);
}

// ---- PIN entry ----

struct PinInput {
    const char* input;
    const char* pin;
    const char* output;
    const char* left;
};

void PrintTo(const PinInput& p, std::ostream* out) { *out << "input \"" << p.input << "\""; }

class PinEntry : public TokenOperatorTest, public ::testing::WithParamInterface<PinInput> {};

TEST_P(PinEntry, ReadsOneWord)
{
    ConsoleScript console(GetParam().input);
    Pin pin = MakePin("previous contents");
    op.AskForPin(pin);
    EXPECT_EQ(pin, MakePin(GetParam().pin));
    EXPECT_EQ(console.Output(), GetParam().output);
    EXPECT_EQ(console.RemainingInput(), GetParam().left);
}

INSTANTIATE_TEST_SUITE_P(Inputs, PinEntry,
                         ::testing::Values(PinInput{"1234\n", "1234", "Enter PIN: ", "\n"},
                                           PinInput{"\n\n  5678  \n", "5678", "Enter PIN: ", "  \n"},
                                           PinInput{"first second\n", "first", "Enter PIN: ", " second\n"},
                                           PinInput{"\t\r\nx", "x", "Enter PIN: ", ""},
                                           PinInput{"p\xC3\xA4ss!\"\n", "p\xC3\xA4ss!\"", "Enter PIN: ", "\n"}));

TEST_F(TokenOperatorTest, LongPinIsReadWhole)
{
    const std::string text(100000, '7');
    ConsoleScript console(text + "\n");
    Pin pin;
    op.AskForPin(pin);
    EXPECT_EQ(pin, MakePin(text));
}

TEST_F(TokenOperatorTest, PinEntryAtEndOfInputThrowsInsteadOfLooping)
{
    for (const char* input : {"", "   \n\n\t"}) {
        ConsoleScript console(input);
        Pin pin = MakePin("kept?");
        EXPECT_THROW(op.AskForPin(pin), CustomException) << "input \"" << input << "\"";
        EXPECT_EQ(console.Output(), "Enter PIN: \n");
    }
}

TEST_F(TokenOperatorTest, TypedPinIsRetriedUntilAccepted)
{
    fake::AddSlot(2, "Reader");
    op.SetCurrentSlot(2);
    ConsoleScript console("bad1\n\nbad2 52816037\nleft\n");
    op.Authenticate(kRw);
    EXPECT_EQ(console.Output(),
              "Enter PIN: Incorrect PIN\n"
              "Incorrect PIN. Please try again.\r\n"
              "Enter PIN: Incorrect PIN\n"
              "Incorrect PIN. Please try again.\r\n"
              "Enter PIN: ");
    EXPECT_EQ(fake::LoggedInUser(), CKU_USER);
    EXPECT_EQ(fake::OpenSessions().size(), 3u);
    EXPECT_EQ(console.RemainingInput(), "\nleft\n");
    std::vector<Pin> sent;
    for (const fake::Call& call : fake::Calls()) {
        if (call.name == "C_Login") {
            EXPECT_EQ(call.args[1], CKU_USER);
            sent.push_back(*call.buffers[0]);
        }
    }
    EXPECT_EQ(sent, (std::vector<Pin>{MakePin("bad1"), MakePin("bad2"), kDefaultPin}));
}

TEST_F(TokenOperatorTest, TypedPinLoopEndsOnLockedPinOrEndOfInput)
{
    fake::AddSlot(2, "Reader");
    op.SetCurrentSlot(2);
    {
        ConsoleScript console("bad\n");
        EXPECT_THROW(op.Authenticate(kRw), CustomException);
        EXPECT_EQ(console.Output(), "Enter PIN: Incorrect PIN\nIncorrect PIN. Please try again.\r\nEnter PIN: \n");
    }
    fake::SetPinLocked(CKU_USER, true);
    ConsoleScript console("52816037\n");
    ExpectPkcsError([&] { op.Authenticate(kRw); }, CKR_PIN_LOCKED, "CTokenOperator::Authenticate");
}

// ---- module lifetime ----

TEST_F(TokenOperatorTest, InitializeLoadsAndInitializesOnce)
{
    EXPECT_NE(op.ModuleHandle(), nullptr);
    ASSERT_NE(op.FunctionList(), nullptr);
    EXPECT_EQ(fake::CallNames(), (std::vector<std::string>{"C_GetFunctionList", "C_Initialize"}));
    EXPECT_EQ(fake::Calls()[1].args[0], 0u);   // no locking callbacks
}

TEST_F(TokenOperatorTest, BorrowedModuleLoadsAndOpensNothing)
{
    fake::ClearCalls();
    CTokenOperator borrower;
    borrower.Initialize(op.ModuleHandle(), op.FunctionList());
    EXPECT_EQ(borrower.ModuleHandle(), op.ModuleHandle());
    EXPECT_EQ(borrower.FunctionList(), op.FunctionList());
    EXPECT_EQ(borrower.CurrentSlot(), 0u);
    EXPECT_EQ(borrower.CurrentSession(), 0u);
    EXPECT_TRUE(fake::Calls().empty());
}

TEST_F(TokenOperatorTest, FinalizeIgnoresFailuresSilently)
{
    fake::AddSlot(6, "Reader");
    op.SetCurrentSlot(6);
    fake::Fail("C_CloseAllSessions", CKR_DEVICE_ERROR);
    fake::Fail("C_Finalize", CKR_GENERAL_ERROR);
    fake::ClearCalls();
    ConsoleScript console;
    EXPECT_NO_THROW(op.Finalize());
    EXPECT_EQ(console.Output(), "");
    EXPECT_EQ(fake::CallNames(), (std::vector<std::string>{"C_CloseAllSessions", "C_Finalize"}));
    EXPECT_EQ(fake::Calls()[0].args[0], 6u);
    EXPECT_EQ(op.ModuleHandle(), nullptr);
}

}  // namespace
