// Whole runs against the scripted fake module around the PINs: the journal of a PIN left at
// the temporary one, the lock that keeps a second run off a token, and the PINs given with
// --so-pin/--pin or the environment.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ChildRun.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::string Hex(const std::string& text)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 0x0F];
    }
    return out;
}

std::vector<std::string> LinesOf(const std::vector<std::string>& logLines, const std::string& entry)
{
    std::vector<std::string> found;
    for (const std::string& line : logLines) {
        if (line.rfind(entry + " ", 0) == 0) found.push_back(line);
    }
    return found;
}

bool Called(const ChildRun::Result& result, const std::string& entry)
{
    return std::find(result.calls.begin(), result.calls.end(), entry) != result.calls.end();
}

// The lock another run would hold on a token's lock file, as long as it lives.
class HeldLock {
public:
    explicit HeldLock(const std::string& path) : m_fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {}
    ~HeldLock()
    {
        if (m_fd >= 0) close(m_fd);
    }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;
    bool Held() const { return m_fd >= 0 && flock(m_fd, LOCK_EX | LOCK_NB) == 0; }

private:
    int m_fd;
};

const char kToken[] = "serial 1 SN-42\nlabel KORVEL Token\n";

void WriteJournal(ChildRun& run, const std::string& text)
{
    std::filesystem::create_directories(run.StateDirectory());
    std::ofstream(run.StateDirectory() + "/token-SN-42.pin-journal") << text;
}

std::string JournalOf(const char* pin, const char* label = "KORVEL%20Token")
{
    return std::string("tokentest PIN journal 1\nserial=SN-42\nlabel=") + label + "\npin=" + pin +
           "\ntemporary=26074913\n";
}

TEST(PinJournalRun, AFailedChangeBackLeavesARecordWithThePinAndTheExactCommand)
{
    ChildRun run;
    // The change back and the restore's change both fail: the SO PIN stays temporary.
    run.Script(HealthyToken() + kToken + "fail C_SetPIN CKR_DEVICE_ERROR from 4\n");
    const ChildRun::Result result = run.Run({"--skip-cert"});
    EXPECT_EQ(result.status, 2);
    EXPECT_THAT(result.out, HasSubstr("ERROR: The SO PIN is still the temporary PIN 26074913: setting it back to the "
                                      "default PIN 52816037 failed; restore it with: pkcs11-tool --module "
                                      "libnimb_pkcs11_main.so --slot 1 --login --login-type so --so-pin 26074913 "
                                      "--change-pin --new-pin 52816037\n"));
    EXPECT_THAT(result.out, Not(HasSubstr("--login --pin 26074913")));
    const std::string journal = run.StateDirectory() + "/token-SN-42.pin-journal";
    struct stat status {};
    ASSERT_EQ(stat(journal.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    std::ifstream in(journal);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, JournalOf("so"));
}

struct RecoveryCase {
    const char* name;
    const char* script;    // the token as the earlier run left it
    const char* journal;
    const char* line;      // the one INFO line, empty for none
    bool changed;          // C_SetPIN from the temporary PIN before formatting
};

void PrintTo(const RecoveryCase& c, std::ostream* out) { *out << c.name; }

class PinJournalRecovery : public ::testing::TestWithParam<RecoveryCase> {};

TEST_P(PinJournalRecovery, ComesFirstAndLeavesNoRecord)
{
    const RecoveryCase& c = GetParam();
    ChildRun run;
    run.Script(HealthyToken() + kToken + c.script);
    WriteJournal(run, c.journal);
    const ChildRun::Result result = run.Run({"--skip-cert"});

    EXPECT_EQ(result.status, 0) << result.out;
    if (*c.line != '\0') {
        EXPECT_THAT(result.out, HasSubstr(std::string("Selected slot: Fake reader\r\nINFO: ") + c.line +
                                          "\n---------- Pass #1 ----------\n"));
    } else {
        EXPECT_THAT(result.out, HasSubstr("Selected slot: Fake reader\r\n---------- Pass #1 ----------\n"));
    }
    const std::vector<std::string> changes = LinesOf(result.logLines, "C_SetPIN");
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.front().find(Hex("26074913") + "," + Hex("52816037")) != std::string::npos, c.changed);
    // Whatever was there, the pass's own PIN changes end with no record.
    EXPECT_FALSE(std::filesystem::exists(run.StateDirectory() + "/token-SN-42.pin-journal"));
}

INSTANTIATE_TEST_SUITE_P(
    Journal, PinJournalRecovery,
    ::testing::Values(
        RecoveryCase{"SoPinTemporary", "pin so 26074913\n", "tokentest PIN journal 1\nserial=SN-42\nlabel=KORVEL%20Token\npin=so\ntemporary=26074913\n",
                     "An earlier run left the SO PIN at the temporary PIN 26074913; it is back to the default PIN "
                     "52816037",
                     true},
        RecoveryCase{"UserPinTemporary", "pin user 26074913\n", "tokentest PIN journal 1\nserial=SN-42\nlabel=KORVEL%20Token\npin=user\ntemporary=26074913\n",
                     "An earlier run left the user PIN at the temporary PIN 26074913; it is back to the default PIN "
                     "52816037",
                     true},
        // Killed after the record and before the change took effect.
        RecoveryCase{"PinNeverChanged", "", "tokentest PIN journal 1\nserial=SN-42\nlabel=KORVEL%20Token\npin=so\ntemporary=26074913\n",
                     "An earlier run stopped while changing the SO PIN; the token refused the temporary PIN "
                     "26074913, so the change had not taken effect",
                     false},
        // A record of another label, or one that cannot be read, is not acted on.
        RecoveryCase{"OtherLabel", "", "tokentest PIN journal 1\nserial=SN-42\nlabel=Other\npin=so\ntemporary=26074913\n", "", false},
        RecoveryCase{"Garbage", "", "not a journal\n", "", false}),
    [](const ::testing::TestParamInfo<RecoveryCase>& info) { return std::string(info.param.name); });

TEST(TokenLockRun, ASecondRunOnAHeldTokenStopsBeforeChangingAnything)
{
    ChildRun run;
    run.Script(HealthyToken() + kToken);
    std::filesystem::create_directories(run.StateDirectory());
    const HeldLock held(run.StateDirectory() + "/token-SN-42.lock");
    ASSERT_TRUE(held.Held());

    const ChildRun::Result result = run.Run({});
    EXPECT_EQ(result.status, 2);
    EXPECT_THAT(result.out, HasSubstr("ERROR: another tokentest run is testing the token with serial number "
                                      "\"SN-42\" (label \"KORVEL Token\"); not touching it\n"));
    EXPECT_THAT(result.out, Not(HasSubstr("Pass #1")));
    for (const char* entry : {"C_InitToken", "C_Login", "C_SetPIN", "C_OpenSession"}) {
        EXPECT_FALSE(Called(result, entry)) << entry;
    }
}

TEST(TokenLockRun, ALockOnAnotherTokenDoesNotStopTheRun)
{
    ChildRun run;
    run.Script(HealthyToken() + kToken);
    std::filesystem::create_directories(run.StateDirectory());
    const HeldLock other(run.StateDirectory() + "/token-SN-43.lock");
    ASSERT_TRUE(other.Held());
    EXPECT_EQ(run.Run({"--skip-cert"}).status, 0);
}

struct PinCase {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::pair<std::string, std::string>> environment;
    std::string soPin;
    std::string userPin;
    std::string temporaryPin;
};

void PrintTo(const PinCase& c, std::ostream* out) { *out << c.name; }

class OtherPins : public ::testing::TestWithParam<PinCase> {};

TEST_P(OtherPins, ArePassedToEveryCallThatTakesAPin)
{
    const PinCase& c = GetParam();
    ChildRun run;
    run.Script(HealthyToken());
    for (const auto& variable : c.environment) run.SetEnvironment(variable.first, variable.second);
    std::vector<std::string> arguments = c.arguments;
    arguments.push_back("--skip-cert");
    arguments.push_back("--trace");
    const ChildRun::Result result = run.Run(arguments);
    ASSERT_EQ(result.status, 0) << result.out << result.err;

    // Formatting gives the SO PIN, then the SO sets the user PIN when it differs.
    ASSERT_EQ(LinesOf(result.logLines, "C_InitToken").size(), 1u);
    EXPECT_THAT(LinesOf(result.logLines, "C_InitToken")[0], HasSubstr("bufs=" + Hex(c.soPin) + ","));
    const std::vector<std::string> initPin = LinesOf(result.logLines, "C_InitPIN");
    ASSERT_EQ(initPin.size(), c.userPin == c.soPin ? 0u : 1u);
    if (!initPin.empty()) {
        EXPECT_THAT(initPin[0], HasSubstr("bufs=" + Hex(c.userPin)));
    }
    // Each PIN goes to the temporary one and back to itself.
    const std::vector<std::string> changes = LinesOf(result.logLines, "C_SetPIN");
    ASSERT_EQ(changes.size(), 4u);
    EXPECT_THAT(changes[0], HasSubstr(Hex(c.userPin) + "," + Hex(c.temporaryPin)));
    EXPECT_THAT(changes[1], HasSubstr(Hex(c.temporaryPin) + "," + Hex(c.userPin)));
    EXPECT_THAT(changes[2], HasSubstr(Hex(c.soPin) + "," + Hex(c.temporaryPin)));
    EXPECT_THAT(changes[3], HasSubstr(Hex(c.temporaryPin) + "," + Hex(c.soPin)));
    // The step lines stay; the PINs show nowhere, the trace included.
    EXPECT_THAT(result.out, HasSubstr("INFO: Logging in using default PIN\n"));
    for (const std::string& pin : {c.soPin, c.userPin}) {
        EXPECT_THAT(result.out, Not(HasSubstr(pin)));
        EXPECT_THAT(result.err, Not(HasSubstr(pin)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pins, OtherPins,
    ::testing::Values(
        PinCase{"Options", {"--so-pin=11112222", "--pin=33334444"}, {}, "11112222", "33334444", "26074913"},
        PinCase{"Environment", {}, {{"TOKENTEST_SO_PIN", "55556666"}, {"TOKENTEST_PIN", "77778888"}}, "55556666",
                "77778888", "26074913"},
        PinCase{"OptionsWinOverTheEnvironment", {"--pin=33334444"},
                {{"TOKENTEST_SO_PIN", "55556666"}, {"TOKENTEST_PIN", "77778888"}}, "55556666", "33334444",
                "26074913"},
        PinCase{"SamePinForBoth", {"--so-pin=90909090", "--pin=90909090"}, {}, "90909090", "90909090", "26074913"},
        PinCase{"TemporaryPinGiven", {"--so-pin=26074913"}, {}, "26074913", "52816037", "39517246"},
        PinCase{"BothTemporaryCandidatesGiven", {"--so-pin=26074913", "--pin=39517246"}, {}, "26074913", "39517246",
                "84062751"}),
    [](const ::testing::TestParamInfo<PinCase>& info) { return std::string(info.param.name); });

}  // namespace
