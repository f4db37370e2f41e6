// The reports of whole runs against the scripted fake module: the JUnit file of a passing,
// a failing and a refused-PIN run, checked against the schema and against the console; the
// version request, which touches no module.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <filesystem>
#include <fstream>
#include <map>
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
    Testcase(std::string suite_, std::string name_, std::string failure_ = "", std::string skipped_ = "")
        : suite(std::move(suite_)), name(std::move(name_)), failure(std::move(failure_)), skipped(std::move(skipped_))
    {
    }

    std::string suite;
    std::string name;
    std::string failure;   // the failure message, empty when the step passed
    std::string skipped;   // the skipped element's message, empty when there is none

    bool operator==(const Testcase& other) const
    {
        return suite == other.suite && name == other.name && failure == other.failure && skipped == other.skipped;
    }
};

void PrintTo(const Testcase& t, std::ostream* out)
{
    *out << t.suite << " / " << t.name << " / " << t.failure << " / " << t.skipped;
}

// What junitparser makes of the report: "suite\tNAME\tTESTS\tFAILURES\tSKIPPED" and
// "case\tRESULT\tNAME" lines; empty when it cannot read it.
std::string ReadWithJunitparser(const std::string& path)
{
    const std::string command = std::string(JUNIT_READER) + " '" + path + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> reader(popen(command.c_str(), "r"), pclose);
    if (reader == nullptr) {
        return std::string();
    }
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), reader.get())) > 0;) {
        text.append(buffer, n);
    }
    return pclose(reader.release()) == 0 ? text : std::string();
}

// The report validates against our schema and Jenkins' junit-10, and junitparser reads it.
bool ValidatesAgainstTheSchema(const std::string& path)
{
    for (const char* schema : {JUNIT_XSD, JENKINS_JUNIT_XSD}) {
        const std::string command = std::string(XMLLINT) + " --noout --schema " + schema + " " + path;
        if (std::system(command.c_str()) != 0) {
            ADD_FAILURE() << path << " does not validate against " << schema;
            return false;
        }
    }
    if (ReadWithJunitparser(path).empty()) {
        ADD_FAILURE() << "junitparser cannot read " << path;
        return false;
    }
    return true;
}

// The testcases of the report, in order, and the totals its elements claim.
struct Report {
    std::vector<Testcase> testcases;
    int tests = -1;
    int failures = -1;
    int skipped = -1;
    std::vector<int> suiteTests;
    // Per suite: its host and start time, and its properties by name.
    std::vector<std::string> hostnames;
    std::vector<std::string> timestamps;
    std::vector<std::map<std::string, std::string>> properties;
    // The failure texts (message and notes), in testcase order.
    std::vector<std::string> failureTexts;
};

std::map<std::string, std::string> PropertiesOf(const tinyxml2::XMLElement& suite)
{
    std::map<std::string, std::string> properties;
    const auto* list = suite.FirstChildElement("properties");
    for (const auto* p = list ? list->FirstChildElement("property") : nullptr; p; p = p->NextSiblingElement()) {
        properties[p->Attribute("name")] = p->Attribute("value");
    }
    return properties;
}

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
    report.skipped = 0;
    for (const auto* suite = root->FirstChildElement("testsuite"); suite; suite = suite->NextSiblingElement()) {
        report.suiteTests.push_back(suite->IntAttribute("tests", -1));
        report.skipped += suite->IntAttribute("skipped", -1);
        report.hostnames.push_back(suite->Attribute("hostname") ? suite->Attribute("hostname") : "");
        report.timestamps.push_back(suite->Attribute("timestamp") ? suite->Attribute("timestamp") : "");
        report.properties.push_back(PropertiesOf(*suite));
        for (const auto* test = suite->FirstChildElement("testcase"); test; test = test->NextSiblingElement()) {
            const auto* failure = test->FirstChildElement("failure");
            const auto* skipped = test->FirstChildElement("skipped");
            report.testcases.push_back({suite->Attribute("name"), test->Attribute("name"),
                                        failure ? failure->Attribute("message") : "",
                                        skipped ? skipped->Attribute("message") : ""});
            if (failure) {
                report.failureTexts.push_back(failure->GetText() ? failure->GetText() : "");
            }
        }
    }
    return report;
}

// What the console says the report must hold: every INFO line of a pass is a testcase, a
// line repeated within the pass with its occurrence number.
std::vector<Testcase> StepsOnTheConsole(const std::string& out)
{
    std::vector<Testcase> steps;
    std::istringstream lines(out);
    std::string suite;
    std::map<std::string, int> seen;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("---------- ", 0) == 0) {
            suite = line.substr(11, line.size() - 22);
            seen.clear();
        } else if (line.rfind("Time passed: ", 0) == 0) {
            suite.clear();
        } else if (!suite.empty() && line.rfind("INFO: ", 0) == 0) {
            const int occurrence = ++seen[line];
            const std::string suffix = occurrence == 1 ? "" : " (" + std::to_string(occurrence) + ")";
            steps.push_back({suite, line.substr(6) + suffix, ""});
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
    EXPECT_EQ(ReadReport(ReportPath()).tests, 1);
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

TEST_F(JunitRun, RunsWithoutAPassHaveOneTestcaseForTheSlotSearch)
{
    struct Case {
        std::string script;
        Lines arguments;
        int status;
        Testcase testcase;
    };
    const std::string suite = "Slot search";
    const std::string step = "Searching for a slot with a token";
    for (const Case& c :
         {Case{"slot 1 absent Empty reader\n", {}, 3,
               Testcase{suite, step, "ERROR: No tokens available. Please insert one. Terminating...", ""}},
          Case{HealthyToken(), {"--passes=0"}, 0, Testcase{suite, step, "", "no pass was asked for (0 passes)"}},
          Case{HealthyToken(), {"--passes=-3"}, 0, Testcase{suite, step, "", "no pass was asked for (-3 passes)"}}}) {
        ChildRun run;
        run.Script(c.script);
        const std::string path = run.Root() + "/report.xml";
        Lines arguments = c.arguments;
        arguments.push_back("--junit=" + path);
        const ChildRun::Result result = run.Run(arguments);
        ASSERT_EQ(result.status, c.status) << result.out << result.err;
        ASSERT_TRUE(ValidatesAgainstTheSchema(path));
        const Report report = ReadReport(path);
        EXPECT_THAT(report.testcases, ElementsAre(c.testcase));
        EXPECT_EQ(report.tests, 1);
        EXPECT_EQ(report.failures, c.testcase.failure.empty() ? 0 : 1);
        EXPECT_EQ(report.skipped, c.testcase.skipped.empty() ? 0 : 1);
        const std::string read = ReadWithJunitparser(path);
        EXPECT_THAT(read, HasSubstr(std::string("case\t") + (c.status == 3 ? "failure" : "skipped") + "\t" + step));
    }
}

TEST_F(JunitRun, RepeatedStepLinesGetTheirOccurrenceNumber)
{
    const ChildRun::Result result = Run("", {"--passes=2"});
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    ASSERT_TRUE(ValidatesAgainstTheSchema(ReportPath()));
    const Report report = ReadReport(ReportPath());
    for (const std::string pass : {"Pass #1", "Pass #2"}) {
        for (const std::string name : {"Trying to delete RSA key pair", "Trying to delete RSA key pair (2)",
                                       "Trying to delete test X509 RSA certificate (2)",
                                       "Trying to sign and verify data with RSA key (2)"}) {
            EXPECT_THAT(report.testcases, ::testing::Contains(Testcase{pass, name, "", ""}));
        }
        EXPECT_THAT(report.testcases,
                    ::testing::Not(::testing::Contains(Testcase{pass, "Trying to delete RSA key pair (3)", "", ""})));
    }
    // junitparser sees every testcase: none is merged into another of the same name.
    const std::string read = ReadWithJunitparser(ReportPath());
    EXPECT_EQ(std::count(read.begin(), read.end(), '\n'), report.tests + 2);
}

TEST_F(JunitRun, ThePinRestoreLineBelongsToTheStepThatFailed)
{
    const std::string failure = "PKCS ERROR in CTokenOperator::ChangePin : CKR_DEVICE_ERROR";
    struct Case {
        std::string fault;
        std::string note;
    };
    // The second C_SetPIN changes the user PIN back; the third is the restore.
    for (const Case& c : {Case{"fail C_SetPIN CKR_DEVICE_ERROR from 2 once\n",
                               "INFO: The user PIN was the temporary PIN 26074913 when the test failed; it is back "
                               "to the default PIN 52816037"},
                          Case{"fail C_SetPIN CKR_DEVICE_ERROR from 2\n",
                               "ERROR: The user PIN is still the temporary PIN 26074913: setting it back to the "
                               "default PIN 52816037 failed; restore it with: pkcs11-tool --module libnimb_pkcs11_main.so "
                               "--slot 1 --login --pin 26074913 --change-pin --new-pin 52816037"}}) {
        ChildRun run;
        run.Script(HealthyToken() + c.fault);
        const std::string path = run.Root() + "/report.xml";
        const ChildRun::Result result = run.Run({"--skip-cert", "--skip-2048", "--junit=" + path});
        ASSERT_EQ(result.status, 2) << result.out;
        ASSERT_THAT(result.out, HasSubstr(c.note + "\n"));
        ASSERT_TRUE(ValidatesAgainstTheSchema(path));
        const Report report = ReadReport(path);
        ASSERT_FALSE(report.testcases.empty());
        EXPECT_EQ(report.testcases.back(), (Testcase{"Pass #1", "Trying to change PIN back to default", failure, ""}));
        EXPECT_THAT(report.failureTexts, ElementsAre(failure + "\n" + c.note));
        EXPECT_EQ(report.failures, 1);
        EXPECT_EQ(report.suiteTests.size(), 1u);
    }
}

TEST_F(JunitRun, EverySuiteNamesHostTimeModuleTokenAndOptions)
{
    const ChildRun::Result result = Run("serial 1 FAKE0001\n", {"--passes=2", "--skip-2048", "--slot=1"});
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    ASSERT_TRUE(ValidatesAgainstTheSchema(ReportPath()));
    const Report report = ReadReport(ReportPath());
    ASSERT_EQ(report.properties.size(), 2u);
    const std::map<std::string, std::string> expected{
        {"module.path", std::string(FAKE_MODULE_DIR) + "/libnimb_pkcs11_main.so"},
        {"library.description", "Scripted fake module"},
        {"library.manufacturer", "Fake manufacturer"},
        {"library.version", "1.2"},
        {"slot.id", "1"},
        {"token.label", "Fake token"},
        {"token.manufacturer", "Fake manufacturer"},
        {"token.model", "Fake model"},
        {"token.serialNumber", "FAKE0001"},
        {"token.hardwareVersion", "0.0"},
        {"token.firmwareVersion", "0.0"},
        {"tokentest.version", TOKENTEST_VERSION},
        {"tokentest.options", "--passes=2 --skip-2048 --slot=1 --junit=" + ReportPath()},
    };
    for (size_t i = 0; i < report.properties.size(); ++i) {
        EXPECT_EQ(report.properties[i], expected);
        EXPECT_FALSE(report.hostnames[i].empty());
        EXPECT_THAT(report.timestamps[i], ::testing::MatchesRegex("20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-9:]{8}"));
    }
}

// --junit onto paths that are not regular files: devices and FIFOs are written into as they
// are, anything else is refused; none is replaced by a file.
class JunitPathRun : public JunitRun {
protected:
    ChildRun::Result RunInto(const std::string& path)
    {
        child.Script(HealthyToken());
        return child.Run({"--passes=0", "--junit=" + path});
    }
    static std::filesystem::file_type TypeOf(const std::string& path)
    {
        return std::filesystem::symlink_status(path).type();
    }
    const std::string warning = "warning: JUnit report not written: ";
};

TEST_F(JunitPathRun, AFifoWithAReaderGetsTheWholeReport)
{
    const std::string path = child.Root() + "/fifo";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const ChildRun::Result result = RunInto(path);
    std::string received;
    char buffer[4096];
    for (ssize_t n; (n = read(reader, buffer, sizeof(buffer))) > 0;) {
        received.append(buffer, static_cast<size_t>(n));
    }
    close(reader);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(TypeOf(path), std::filesystem::file_type::fifo);
    std::ofstream(ReportPath()) << received;
    EXPECT_TRUE(ValidatesAgainstTheSchema(ReportPath()));
    EXPECT_EQ(ReadReport(ReportPath()).tests, 1);
}

TEST_F(JunitPathRun, AFifoWithoutAReaderIsAWarningAndStaysAFifo)
{
    const std::string path = child.Root() + "/fifo";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    const ChildRun::Result result = RunInto(path);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, warning + "\"" + path + "\" is a FIFO that nobody reads\n");
    EXPECT_EQ(TypeOf(path), std::filesystem::file_type::fifo);
}

TEST_F(JunitPathRun, CharacterDevicesAreWrittenIntoNeverReplaced)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "making device nodes needs root";
    }
    struct Case {
        unsigned minor;   // of the memory devices: 3 is null, 7 is full
        std::string err;
    };
    for (const Case& c : {Case{3, ""}, Case{7, "cannot write \"DEVICE\": No space left on device"}}) {
        const std::string path = child.Root() + "/device" + std::to_string(c.minor);
        ASSERT_EQ(mknod(path.c_str(), S_IFCHR | 0600, makedev(1, c.minor)), 0);
        const ChildRun::Result result = RunInto(path);
        EXPECT_EQ(result.status, 0);
        std::string err = c.err;
        if (!err.empty()) {
            err = warning + err.replace(err.find("DEVICE"), 6, path) + "\n";
        }
        EXPECT_EQ(result.err, err);
        EXPECT_EQ(TypeOf(path), std::filesystem::file_type::character);
    }
}

TEST_F(JunitPathRun, ADirectoryIsRefusedAndLeftAlone)
{
    const std::string path = child.Root() + "/reports";
    std::filesystem::create_directory(path);
    const ChildRun::Result result = RunInto(path);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, warning + "\"" + path + "\" is not a regular file, a character device or a FIFO\n");
    EXPECT_EQ(TypeOf(path), std::filesystem::file_type::directory);
    EXPECT_TRUE(std::filesystem::is_empty(path));
    for (const auto& entry : std::filesystem::directory_iterator(child.Root())) {
        EXPECT_NE(entry.path().filename().string().rfind("reports.", 0), 0u) << entry.path();
    }
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
