// Command line: argument vectors against the settings they produce.
#include <climits>
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
        const char* argument;
        int32_t passes;
    };
    for (const Case& c : {Case{"--passes=abc", 0}, Case{"--passes=5x", 5}, Case{"--passes=", 0}, Case{"--passes=3 ", 3}}) {
        const CRunSettings settings = ParseArguments({c.argument});
        EXPECT_EQ(settings.passes, c.passes) << c.argument;
        std::ostringstream warnings;
        settings.WriteWarnings(warnings);
        EXPECT_EQ(warnings.str(), std::string("warning: \"") + c.argument + "\" is not a whole number: read as " +
                                      std::to_string(c.passes) + "\n");
        EXPECT_TRUE(settings.errors.empty());
    }
}

TEST(RunSettings, ModuleSlotReportAndDirectoryOptions)
{
    const CRunSettings settings =
        ParseArguments({"--module=/opt/m.so", "--standard-calls", "--slot=17", "--list-slots", "--conf-dir=/usr/share/c",
                        "--junit=out.xml", "--trace", "--version"});
    EXPECT_EQ(settings.modulePath, "/opt/m.so");
    EXPECT_TRUE(settings.standardCalls);
    ASSERT_TRUE(settings.slotId.has_value());
    EXPECT_EQ(*settings.slotId, 17u);
    EXPECT_TRUE(settings.listSlots);
    EXPECT_EQ(settings.confDir, "/usr/share/c/");
    EXPECT_EQ(settings.junitPath, "out.xml");
    EXPECT_TRUE(settings.trace);
    EXPECT_TRUE(settings.showVersion);
    EXPECT_TRUE(settings.unknownArguments.empty());
    EXPECT_TRUE(settings.errors.empty());

    const CRunSettings defaults = ParseArguments({});
    EXPECT_EQ(defaults.modulePath, "");
    EXPECT_FALSE(defaults.slotId.has_value());
    EXPECT_EQ(defaults.confDir, "../conf/");
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
                                 "--module=", "--junit=", "--conf-dir="}) {
        const CRunSettings settings = ParseArguments({argument});
        ASSERT_EQ(settings.errors.size(), 1u) << argument;
        EXPECT_NE(settings.errors[0].find(argument), std::string::npos) << settings.errors[0];
        std::ostringstream out;
        settings.WriteErrors(out);
        EXPECT_EQ(out.str(), "error: " + settings.errors[0] + "\n");
    }
}

TEST(RunSettings, UsageNamesEveryOptionAndStatus)
{
    std::ostringstream usage;
    CRunSettings::WriteUsage(usage);
    for (const char* text : {"--skip-init-token", "--gost", "--passes=", "--skip-2048", "--skip-cert", "--help",
                             "-h", "--module=", "--standard-calls", "--slot=", "--list-slots", "--conf-dir=",
                             "--junit=", "--trace", "--version", "  0 ", "  1 ", "  2 ", "  3 ", "  4 ", "  255 "}) {
        EXPECT_NE(usage.str().find(text), std::string::npos) << text;
    }
}

}  // namespace
