// The reports of whole runs against the scripted fake module: the JUnit file of a passing,
// a failing and a refused-PIN run, checked against the schema and against the console; the
// version request, which touches no module.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include "ChildRun.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Lines = std::vector<std::string>;

struct Testcase {
    std::string suite;
    std::string name;
    std::string failure;   // the failure message, empty when the step passed

    bool operator==(const Testcase& other) const
    {
        return suite == other.suite && name == other.name && failure == other.failure;
    }
};

void PrintTo(const Testcase& t, std::ostream* out) { *out << t.suite << " / " << t.name << " / " << t.failure; }

bool ValidatesAgainstTheSchema(const std::string& path)
{
    const std::string command = std::string(XMLLINT) + " --noout --schema " JUNIT_XSD " " + path;
    return std::system(command.c_str()) == 0;
}

// The testcases of the report, in order, and the totals its elements claim.
struct Report {
    std::vector<Testcase> testcases;
    int tests = -1;
    int failures = -1;
    std::vector<int> suiteTests;
};

Report ReadReport(const std::string& path)
{
    Report report;
    tinyxml2::XMLDocument document;
    if (document.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
        ADD_FAILURE() << "cannot parse " << path;
        return report;
    }
    const tinyxml2::XMLElement* root = document.RootElement();
    report.tests = root->IntAttribute("tests", -1);
    report.failures = root->IntAttribute("failures", -1);
    for (const auto* suite = root->FirstChildElement("testsuite"); suite; suite = suite->NextSiblingElement()) {
        report.suiteTests.push_back(suite->IntAttribute("tests", -1));
        for (const auto* test = suite->FirstChildElement("testcase"); test; test = test->NextSiblingElement()) {
            const auto* failure = test->FirstChildElement("failure");
            report.testcases.push_back(
                {suite->Attribute("name"), test->Attribute("name"), failure ? failure->Attribute("message") : ""});
        }
    }
    return report;
}

// What the console says the report must hold: every INFO line of a pass is a testcase.
std::vector<Testcase> StepsOnTheConsole(const std::string& out)
{
    std::vector<Testcase> steps;
    std::istringstream lines(out);
    std::string suite;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("---------- ", 0) == 0) {
            suite = line.substr(11, line.size() - 22);
        } else if (line.rfind("Time passed: ", 0) == 0) {
            suite.clear();
        } else if (!suite.empty() && line.rfind("INFO: ", 0) == 0) {
            steps.push_back({suite, line.substr(6), ""});
        }
    }
    return steps;
}

class JunitRun : public ::testing::Test {
protected:
    ChildRun::Result Run(const std::string& script, Lines arguments)
    {
        child.Script(HealthyToken() + script);
        arguments.push_back("--junit=" + ReportPath());
        return child.Run(arguments);
    }
    std::string ReportPath() const { return child.Root() + "/report.xml"; }

    ChildRun child;
};

TEST_F(JunitRun, PassingRunHasOneTestcasePerStepLine)
{
    const ChildRun::Result result = Run("", {"--passes=2", "--skip-2048"});
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    ASSERT_TRUE(ValidatesAgainstTheSchema(ReportPath()));
    const Report report = ReadReport(ReportPath());
    const std::vector<Testcase> steps = StepsOnTheConsole(result.out);
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(report.testcases, steps);
    EXPECT_EQ(report.tests, static_cast<int>(steps.size()));
    EXPECT_EQ(report.failures, 0);
    EXPECT_EQ(report.suiteTests, (std::vector<int>{report.tests / 2, report.tests / 2}));
    EXPECT_EQ(report.testcases.front(), (Testcase{"Pass #1", "Trying to perform init token using default PIN", ""}));
    EXPECT_EQ(result.err, "");
}

TEST_F(JunitRun, FailureInTheMiddleIsOnTheRunningStepAndLaterStepsAreAbsent)
{
    const ChildRun::Result result = Run("fail C_GenerateKeyPair CKR_DEVICE_ERROR\n", {"--skip-cert"});
    ASSERT_EQ(result.status, 2) << result.out;
    ASSERT_TRUE(ValidatesAgainstTheSchema(ReportPath()));
    const Report report = ReadReport(ReportPath());
    EXPECT_THAT(report.testcases,
                ElementsAre(Testcase{"Pass #1", "Trying to perform init token using default PIN", ""},
                            Testcase{"Pass #1", "Logging in using default PIN", ""},
                            Testcase{"Pass #1", "Trying to generate RSA 1024 key pair",
                                     "PKCS ERROR in CRsaSignatureOperator::GenerateKeyPair : CKR_DEVICE_ERROR"}));
    EXPECT_EQ(report.failures, 1);
    EXPECT_EQ(report.tests, 3);
}

TEST_F(JunitRun, RefusedPinFailsTheLoginStepOfItsPass)
{
    // Each pass logs in eight times; the ninth login is the first of pass 2.
    const ChildRun::Result result =
        Run("fail C_Login CKR_PIN_INCORRECT from 9 once\n", {"--passes=3", "--skip-cert", "--skip-2048"});
    ASSERT_EQ(result.status, 255) << result.out;
    ASSERT_TRUE(ValidatesAgainstTheSchema(ReportPath()));
    const Report report = ReadReport(ReportPath());
    ASSERT_EQ(report.suiteTests.size(), 2u);
    ASSERT_GE(report.testcases.size(), 2u);
    const std::vector<Testcase> pass2(report.testcases.end() - 2, report.testcases.end());
    EXPECT_THAT(pass2, ElementsAre(Testcase{"Pass #2", "Trying to perform init token using default PIN", ""},
                                   Testcase{"Pass #2", "Logging in using default PIN",
                                            "ERROR: Can not authenticate into token using default PIN."}));
    EXPECT_EQ(report.failures, 1);
}

TEST_F(JunitRun, FailuresBeforeAnyPassAreReported)
{
    struct Case {
        std::string script;
        bool withModule;
        int status;
        std::string failure;
    };
    for (const Case& c : {Case{"fail C_Initialize CKR_DEVICE_ERROR\n", true, 2,
                               "PKCS ERROR in CTokenOperator::CTokenOperator : CKR_DEVICE_ERROR"},
                          Case{"", false, 1, "the PKCS#11 module could not be loaded"}}) {
        ChildRun run;
        run.Script(HealthyToken() + c.script);
        if (!c.withModule) {
            run.WithoutModule();
        }
        const std::string path = run.Root() + "/report.xml";
        const ChildRun::Result result = run.Run({"--junit=" + path});
        ASSERT_EQ(result.status, c.status) << result.out;
        ASSERT_TRUE(ValidatesAgainstTheSchema(path));
        const Report report = ReadReport(path);
        ASSERT_EQ(report.testcases.size(), 1u);
        EXPECT_EQ(report.testcases[0].failure, c.failure);
    }
}

TEST_F(JunitRun, AnOldReportIsReplacedWholeAndNothingIsLeftBeside)
{
    std::ofstream(ReportPath()) << std::string(100000, 'x');
    const ChildRun::Result result = Run("", {"--passes=0"});
    ASSERT_EQ(result.status, 0);
    ASSERT_TRUE(ValidatesAgainstTheSchema(ReportPath()));
    EXPECT_EQ(ReadReport(ReportPath()).tests, 0);
    Lines names;
    for (const auto& entry : std::filesystem::directory_iterator(child.Root())) {
        if (entry.path().filename().string().rfind("report.xml", 0) == 0) {
            names.push_back(entry.path().filename().string());
        }
    }
    EXPECT_THAT(names, ElementsAre("report.xml"));
    EXPECT_EQ(std::filesystem::status(ReportPath()).permissions() & std::filesystem::perms::others_read,
              std::filesystem::perms::others_read);
}

TEST_F(JunitRun, AReportThatCannotBeWrittenIsAWarningOnly)
{
    child.Script(HealthyToken());
    const ChildRun::Result result = child.Run({"--passes=0", "--junit=" + child.Root() + "/missing/report.xml"});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.err, HasSubstr("warning: JUnit report not written: cannot create a temporary file for \"" +
                                      child.Root() + "/missing/report.xml\": No such file or directory"));
}

TEST(VersionRun, PrintsTheVersionWithoutTouchingTheModule)
{
    ChildRun withModule;
    withModule.Script(HealthyToken());
    const ChildRun::Result result = withModule.Run({"--gost", "--version"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "tokentest " TOKENTEST_VERSION "\n");
    EXPECT_TRUE(result.calls.empty());

    ChildRun withoutModule;
    withoutModule.WithoutModule();
    const ChildRun::Result alone = withoutModule.Run({"--version"});
    EXPECT_EQ(alone.status, 0);
    EXPECT_EQ(alone.out, result.out);
    EXPECT_EQ(alone.err, "");
}

}  // namespace
