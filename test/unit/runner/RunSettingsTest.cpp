// Command line: argument vectors against the settings they produce.
#include <climits>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ScopedWorkDir.h"
#include "runner/RunSettings.h"

namespace {

CRunSettings ParseArguments(const std::vector<std::string>& arguments)
{
    std::vector<const char*> argv{"tokentest"};
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    return CRunSettings::Parse(static_cast<int>(argv.size()), argv.data());
}

struct SettingsCase {
    std::vector<std::string> arguments;
    bool skipInitToken;
    bool gostTests;
    int32_t passes;
    bool skip2048;
    bool skipCert;
    std::vector<std::string> unknown;
};

void PrintTo(const SettingsCase& c, std::ostream* out)
{
    for (const std::string& argument : c.arguments) {
        *out << '[' << argument << ']';
    }
}

class RunSettingsTable : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(RunSettingsTable, ProducesSettings)
{
    const SettingsCase& expected = GetParam();
    const CRunSettings settings = ParseArguments(expected.arguments);
    EXPECT_EQ(settings.skipInitToken, expected.skipInitToken);
    EXPECT_EQ(settings.gostTests, expected.gostTests);
    EXPECT_EQ(settings.passes, expected.passes);
    EXPECT_EQ(settings.skip2048, expected.skip2048);
    EXPECT_EQ(settings.skipCert, expected.skipCert);
    EXPECT_FALSE(settings.showHelp);
    EXPECT_EQ(settings.unknownArguments, expected.unknown);
}

const std::string kMax = std::to_string(INT32_MAX);
const std::string kMin = std::to_string(INT32_MIN);

INSTANTIATE_TEST_SUITE_P(
    CommandLine, RunSettingsTable,
    ::testing::Values(
        //            arguments                                     init   gost   passes     2048   cert   unknown
        SettingsCase{{}, false, false, 1, false, false, {}},
        SettingsCase{{"--skip-init-token"}, true, false, 1, false, false, {}},
        SettingsCase{{"--gost"}, false, true, 1, false, false, {}},
        SettingsCase{{"--skip-2048"}, false, false, 1, true, false, {}},
        SettingsCase{{"--skip-cert"}, false, false, 1, false, true, {}},
        SettingsCase{{"--skip-cert", "--gost", "--skip-2048", "--skip-init-token"}, true, true, 1, true, true, {}},
        SettingsCase{{"--gost", "--gost", "--skip-cert", "--skip-cert"}, false, true, 1, false, true, {}},
        // strtol semantics of the count.
        SettingsCase{{"--passes=3"}, false, false, 3, false, false, {}},
        SettingsCase{{"--passes=2abc"}, false, false, 2, false, false, {}},
        SettingsCase{{"--passes=3x"}, false, false, 3, false, false, {}},
        SettingsCase{{"--passes= 4"}, false, false, 4, false, false, {}},
        SettingsCase{{"--passes=+5"}, false, false, 5, false, false, {}},
        SettingsCase{{"--passes="}, false, false, 0, false, false, {}},
        SettingsCase{{"--passes=abc"}, false, false, 0, false, false, {}},
        SettingsCase{{"--passes=-4"}, false, false, -4, false, false, {}},
        SettingsCase{{"--passes=99999999999999999999"}, false, false, INT32_MAX, false, false, {}},
        SettingsCase{{"--passes=-99999999999999999999"}, false, false, INT32_MIN, false, false, {}},
        SettingsCase{{"--passes=2147483648"}, false, false, INT32_MAX, false, false, {}},
        SettingsCase{{"--passes=-2147483649"}, false, false, INT32_MIN, false, false, {}},
        SettingsCase{{"--passes=" + kMax}, false, false, INT32_MAX, false, false, {}},
        SettingsCase{{"--passes=" + kMin}, false, false, INT32_MIN, false, false, {}},
        // The first count of 2 or more holds; smaller ones leave the next in force.
        SettingsCase{{"--passes=-4", "--passes=3"}, false, false, 3, false, false, {}},
        SettingsCase{{"--passes=3", "--passes=7"}, false, false, 3, false, false, {}},
        SettingsCase{{"--passes=2", "--passes=5"}, false, false, 2, false, false, {}},
        SettingsCase{{"--passes=0", "--passes=5"}, false, false, 5, false, false, {}},
        SettingsCase{{"--passes=1", "--passes=0"}, false, false, 0, false, false, {}},
        SettingsCase{{"--passes=1", "--passes=6", "--passes=1"}, false, false, 6, false, false, {}},
        // Byte-exact, case-sensitive, whole-argument matching; no warning for a prefix match.
        SettingsCase{{"--Passes=3"}, false, false, 1, false, false, {"--Passes=3"}},
        SettingsCase{{"--gost=1"}, false, false, 1, false, false, {"--gost=1"}},
        SettingsCase{{"-gost"}, false, false, 1, false, false, {"-gost"}},
        SettingsCase{{"--skip-cert=1", "--SKIP-CERT"}, false, false, 1, false, false, {"--skip-cert=1", "--SKIP-CERT"}},
        SettingsCase{{"--skip-init", "--passes"}, false, false, 1, false, false, {"--skip-init", "--passes"}},
        SettingsCase{{""}, false, false, 1, false, false, {""}},
        SettingsCase{{"--passes=3", "--passes=junk"}, false, false, 3, false, false, {}}));

TEST(RunSettings, HelpInAnyPositionIsRecognised)
{
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--help"}, {"-h"}, {"--gost", "-h", "--passes=3"}}) {
        const CRunSettings settings = ParseArguments(arguments);
        EXPECT_TRUE(settings.showHelp);
        EXPECT_TRUE(settings.unknownArguments.empty());
    }
    EXPECT_FALSE(ParseArguments({"--HELP"}).showHelp);
    EXPECT_FALSE(ParseArguments({"-help"}).showHelp);
}

TEST(RunSettings, WarnsOncePerUnknownArgumentInOrder)
{
    std::ostringstream warnings;
    ParseArguments({"--skip-init-tokn", "--gost", "x y"}).WriteWarnings(warnings);
    EXPECT_EQ(warnings.str(),
              "ignoring unknown argument \"--skip-init-tokn\"\n"
              "ignoring unknown argument \"x y\"\n");

    std::ostringstream none;
    ParseArguments({"--gost", "--passes=12", "--passes= +3"}).WriteWarnings(none);
    EXPECT_EQ(none.str(), "");
}

TEST(RunSettings, PassCountThatIsNotAWholeNumberKeepsItsValueWithAWarning)
{
    struct Case {
        std::vector<std::string> arguments;
        int32_t passes;
        const char* warned;   // the argument warned about, or nullptr
    };
    for (const Case& c : {Case{{"--passes=abc"}, 0, "--passes=abc"}, Case{{"--passes=5x"}, 5, "--passes=5x"},
                          Case{{"--passes="}, 0, "--passes="}, Case{{"--passes=3 "}, 3, "--passes=3 "},
                          // Only the argument the count comes from is warned about.
                          Case{{"--passes=2", "--passes=abc"}, 2, nullptr},
                          Case{{"--passes=abc", "--passes=5"}, 5, nullptr},
                          Case{{"--passes=3x", "--passes=4"}, 3, "--passes=3x"},
                          Case{{"--passes=1", "--passes=x"}, 0, "--passes=x"}}) {
        const CRunSettings settings = ParseArguments(c.arguments);
        EXPECT_EQ(settings.passes, c.passes) << c.arguments.back();
        std::ostringstream warnings;
        settings.WriteWarnings(warnings);
        const std::string expected = c.warned == nullptr ? std::string()
                                                         : std::string("warning: \"") + c.warned +
                                                               "\" is not a whole number: read as " +
                                                               std::to_string(c.passes) + "\n";
        EXPECT_EQ(warnings.str(), expected) << c.arguments.back();
        EXPECT_TRUE(settings.errors.empty());
    }
}

TEST(RunSettings, ModuleSlotReportAndDirectoryOptions)
{
    const CRunSettings settings =
        ParseArguments({"--module=/opt/m.so", "--standard-calls", "--slot=17", "--list-slots", "--conf-dir=/usr/share/c",
                        "--junit=out.xml", "--trace", "--version", "--keep-going",
                        "--init-args=configdir='sql:/d' flags="});
    EXPECT_EQ(settings.modulePath, "/opt/m.so");
    EXPECT_EQ(settings.initArgs, std::optional<std::string>("configdir='sql:/d' flags="));
    EXPECT_TRUE(settings.standardCalls);
    ASSERT_TRUE(settings.slotId.has_value());
    EXPECT_EQ(*settings.slotId, 17u);
    EXPECT_TRUE(settings.listSlots);
    EXPECT_EQ(settings.confDir, "/usr/share/c/");
    EXPECT_EQ(settings.junitPath, "out.xml");
    EXPECT_TRUE(settings.trace);
    EXPECT_TRUE(settings.showVersion);
    EXPECT_TRUE(settings.keepGoing);
    EXPECT_TRUE(settings.unknownArguments.empty());
    EXPECT_TRUE(settings.errors.empty());

    const CRunSettings defaults = ParseArguments({});
    EXPECT_EQ(defaults.modulePath, "");
    EXPECT_FALSE(defaults.slotId.has_value());
    EXPECT_FALSE(defaults.initArgs.has_value());
    EXPECT_EQ(defaults.confDir, "../conf/");
    EXPECT_FALSE(defaults.keepGoing);
    EXPECT_FALSE(ParseArguments({"--keep-going=1"}).keepGoing);
    EXPECT_EQ(ParseArguments({"--conf-dir=conf/"}).confDir, "conf/");
    EXPECT_EQ(*ParseArguments({"--slot=0"}).slotId, 0u);
}

TEST(RunSettings, TestFilesComeFromTheGivenDirectoryOrAnExistingConf)
{
    const ScopedWorkDir work;
    std::filesystem::create_directory(work.Path() + "/run");
    std::filesystem::current_path(work.Path() + "/run");
    // No ../conf/ and no installed test files beside this test binary: ../conf/ is reported missing.
    EXPECT_EQ(ParseArguments({}).TestFileDir(), "../conf/");
    EXPECT_EQ(ParseArguments({"--conf-dir=/nonexistent"}).TestFileDir(), "/nonexistent/");
    std::filesystem::create_directory(work.Path() + "/conf");
    EXPECT_EQ(ParseArguments({}).TestFileDir(), "../conf/");
    EXPECT_EQ(ParseArguments({"--conf-dir=../conf"}).TestFileDir(), "../conf/");
}

TEST(RunSettings, OptionsTextGivesTheSettingsInEffect)
{
    struct Case {
        std::vector<std::string> arguments;
        std::string text;
    };
    for (const Case& c :
         {Case{{}, "--passes=1"},
          Case{{"--gost", "--passes=3", "--passes=1", "--skip-cert", "--bogus"}, "--passes=3 --gost --skip-cert"},
          Case{{"--skip-init-token", "--skip-2048", "--standard-calls", "--trace", "--module=/m.so", "--slot=2",
                "--conf-dir=c", "--junit=r.xml"},
               "--passes=1 --skip-init-token --skip-2048 --standard-calls --trace --module=/m.so --slot=2 "
               "--conf-dir=c/ --junit=r.xml"}}) {
        EXPECT_EQ(ParseArguments(c.arguments).OptionsText(), c.text);
    }
}

TEST(RunSettings, UnusableOptionValuesAreErrors)
{
    for (const char* argument : {"--slot=", "--slot=abc", "--slot=-1", "--slot=+1", "--slot=1x", "--slot=99999999999999999999999",
                                 "--module=", "--junit=", "--conf-dir=", "--token-label=", "--token-serial=  ",
                                 "--token-label= ", "--so-pin=", "--pin=", "--init-args="}) {
        const CRunSettings settings = ParseArguments({argument});
        ASSERT_EQ(settings.errors.size(), 1u) << argument;
        EXPECT_NE(settings.errors[0].find(argument), std::string::npos) << settings.errors[0];
        std::ostringstream out;
        settings.WriteErrors(out);
        EXPECT_EQ(out.str(), "error: " + settings.errors[0] + "\n");
    }
}

// Sets an environment variable for the life of the object, then puts the old state back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name)) m_old = old;
        setenv(name, value, 1);
    }
    ~ScopedVariable()
    {
        if (m_old.empty()) {
            unsetenv(m_name);
        } else {
            setenv(m_name, m_old.c_str(), 1);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* m_name;
    std::string m_old;
};

TEST(RunSettings, PinsComeFromTheOptionsThenTheEnvironmentThenTheDefault)
{
    const ScopedVariable so("TOKENTEST_SO_PIN", "1111");
    const ScopedVariable user("TOKENTEST_PIN", "");
    const CRunSettings fromEnvironment = ParseArguments({});
    EXPECT_EQ(fromEnvironment.soPin, "1111");
    EXPECT_EQ(fromEnvironment.userPin, "52816037");   // an empty variable counts as unset
    const CRunSettings fromOptions = ParseArguments({"--pin=3333", "--so-pin=2222"});
    EXPECT_EQ(fromOptions.soPin, "2222");
    EXPECT_EQ(fromOptions.userPin, "3333");
    // A refused empty option does not let the variable in.
    EXPECT_EQ(ParseArguments({"--so-pin=4444", "--so-pin="}).soPin, "4444");
    // Given twice with different values: an error that shows neither.
    const CRunSettings twice = ParseArguments({"--pin", "5555", "--pin=6666"});
    ASSERT_EQ(twice.errors.size(), 1u);
    EXPECT_EQ(twice.errors[0].find("5555"), std::string::npos) << twice.errors[0];
    EXPECT_EQ(twice.errors[0].find("6666"), std::string::npos) << twice.errors[0];
}

// --- Options with a value: "--name=VALUE" or "--name VALUE" ------------------------------------

struct ValueCase {
    const char* name;
    std::vector<std::string> equalsForm;
    std::vector<std::string> spacedForm;
    std::string (*read)(const CRunSettings&);
    std::string expected;
};

class ValueOptionTable : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ValueOptionTable, BothFormsGiveTheSameValue)
{
    for (const std::vector<std::string>& arguments : {GetParam().equalsForm, GetParam().spacedForm}) {
        std::vector<std::string> withFlags = arguments;
        withFlags.push_back("--gost");
        const CRunSettings settings = ParseArguments(withFlags);
        EXPECT_EQ(GetParam().read(settings), GetParam().expected) << arguments[0];
        EXPECT_TRUE(settings.errors.empty()) << arguments[0];
        EXPECT_TRUE(settings.unknownArguments.empty()) << arguments[0];
        EXPECT_TRUE(settings.gostTests);
    }
}

TEST_P(ValueOptionTable, MissingValueIsAnError)
{
    // Last argument, or followed by another option (which stays an option).
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{GetParam().name}, {GetParam().name, "--skip-cert"}}) {
        const CRunSettings settings = ParseArguments(arguments);
        ASSERT_EQ(settings.errors.size(), 1u) << arguments.size();
        EXPECT_EQ(settings.errors[0], std::string("\"") + GetParam().name + "\" needs a value");
        EXPECT_EQ(settings.skipCert, arguments.size() == 2);
    }
}

TEST_P(ValueOptionTable, RepeatedValueIsAnErrorOnlyWhenItDiffers)
{
    const std::string name = GetParam().name;
    std::vector<std::string> same = GetParam().equalsForm;
    same.insert(same.end(), GetParam().spacedForm.begin(), GetParam().spacedForm.end());
    const CRunSettings sameTwice = ParseArguments(same);
    EXPECT_TRUE(sameTwice.errors.empty());
    EXPECT_EQ(GetParam().read(sameTwice), GetParam().expected);

    std::vector<std::string> different = GetParam().equalsForm;
    different.push_back(name + "=7");
    const CRunSettings differs = ParseArguments(different);
    ASSERT_EQ(differs.errors.size(), 1u);
    EXPECT_EQ(differs.errors[0].find("\"" + name + "\" is given twice with different values"), 0u) << differs.errors[0];
}

std::string ModulePath(const CRunSettings& s) { return s.modulePath; }
std::string SlotId(const CRunSettings& s) { return s.slotId ? std::to_string(*s.slotId) : "none"; }
std::string JunitPath(const CRunSettings& s) { return s.junitPath; }
std::string ConfDir(const CRunSettings& s) { return s.confDir; }
std::string TokenLabel(const CRunSettings& s) { return s.tokenLabel; }
std::string TokenSerial(const CRunSettings& s) { return s.tokenSerial; }

INSTANTIATE_TEST_SUITE_P(
    CommandLine, ValueOptionTable,
    ::testing::Values(
        ValueCase{"--module", {"--module=/usr/lib/m.so"}, {"--module", "/usr/lib/m.so"}, ModulePath, "/usr/lib/m.so"},
        ValueCase{"--slot", {"--slot=12"}, {"--slot", "12"}, SlotId, "12"},
        ValueCase{"--junit", {"--junit=r.xml"}, {"--junit", "r.xml"}, JunitPath, "r.xml"},
        ValueCase{"--conf-dir", {"--conf-dir=/c"}, {"--conf-dir", "/c"}, ConfDir, "/c/"},
        ValueCase{"--token-label", {"--token-label=My token"}, {"--token-label", "My token"}, TokenLabel, "My token"},
        ValueCase{"--token-serial", {"--token-serial=0A1B"}, {"--token-serial", "0A1B"}, TokenSerial, "0A1B"}),
    [](const ::testing::TestParamInfo<ValueCase>& info) {
        std::string name;
        for (const char* c = info.param.name + 2; *c != '\0'; ++c) {
            if (*c != '-') name += *c;
        }
        return name;
    });

TEST(RunSettings, SpecifiedOptionsTakeNoSpacedValue)
{
    // "--passes 3" is no count: both words are unknown, the count stays 1.
    const CRunSettings settings = ParseArguments({"--passes", "3", "--gost", "1"});
    EXPECT_EQ(settings.passes, 1);
    EXPECT_TRUE(settings.gostTests);
    EXPECT_EQ(settings.unknownArguments, (std::vector<std::string>{"--passes", "3", "1"}));
    EXPECT_TRUE(settings.errors.empty());
}

TEST(RunSettings, NextArgumentStartingWithADashIsNoValue)
{
    // A forgotten value must not swallow the next option: it is read as an argument itself.
    const CRunSettings settings = ParseArguments({"--junit", "--skip-cert.xml", "--module", "m.so", "--skip-cert"});
    ASSERT_EQ(settings.errors.size(), 1u);
    EXPECT_EQ(settings.errors[0], "\"--junit\" needs a value");
    EXPECT_EQ(settings.unknownArguments, (std::vector<std::string>{"--skip-cert.xml"}));
    EXPECT_EQ(settings.junitPath, "");
    EXPECT_EQ(settings.modulePath, "m.so");
    EXPECT_TRUE(settings.skipCert);
}

TEST(RunSettings, SlotExcludesTheTokenIdentity)
{
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--slot=1", "--token-label=A"}, {"--token-serial", "S", "--slot", "1"}}) {
        const CRunSettings settings = ParseArguments(arguments);
        ASSERT_EQ(settings.errors.size(), 1u);
        EXPECT_EQ(settings.errors[0], "\"--slot\" cannot be combined with \"--token-label\" or \"--token-serial\"");
    }
    const CRunSettings both = ParseArguments({"--token-label=A", "--token-serial=S"});
    EXPECT_TRUE(both.errors.empty());
    EXPECT_EQ(both.tokenLabel, "A");
    EXPECT_EQ(both.tokenSerial, "S");
}

TEST(RunSettings, UsageNamesEveryOptionAndStatus)
{
    std::ostringstream usage;
    CRunSettings::WriteUsage(usage);
    for (const char* text : {"--skip-init-token", "--gost", "--passes=", "--skip-2048", "--skip-cert", "--help",
                             "-h", "--module=", "--standard-calls", "--slot=", "--list-slots", "--conf-dir=",
                             "--junit=", "--trace", "--keep-going", "--init-args=", "--token-label=", "--token-serial=", "next argument",
                             "--so-pin=", "--pin=", "TOKENTEST_SO_PIN", "TOKENTEST_PIN", "XDG_STATE_HOME",
                             "--version", "  0 ", "  1 ", "  2 ", "  3 ", "  4 ", "  128+N ", "  255 "}) {
        EXPECT_NE(usage.str().find(text), std::string::npos) << text;
    }
}

}  // namespace
