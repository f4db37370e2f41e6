// The JUnit report in process: which log lines become testcases and failures, names made
// unique, notes on a failure, properties, and text that XML must escape coming back
// unchanged or, where XML cannot hold it, replaced.
#include <string>

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include "runner/JunitReport.h"
#include "support/Logger.h"

namespace {

// The testcase names of the first suite.
std::vector<std::string> TestcaseNames(const tinyxml2::XMLElement& suite)
{
    std::vector<std::string> names;
    for (const auto* test = suite.FirstChildElement("testcase"); test; test = test->NextSiblingElement()) {
        names.push_back(test->Attribute("name"));
    }
    return names;
}

TEST(JunitReport, OnlyLinesInsideAPassAreSteps)
{
    CJunitReport report;
    report.OnLogLine("INFO", "Performing tests 1 times...");
    report.BeginPass(1);
    report.OnLogLine("INFO", "first");
    report.OnLogLine("DEBUG", "not a step");
    report.OnLogLine("INFO", "second");
    report.EndPass();
    report.OnLogLine("INFO", "after the pass");
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.Parse(report.Xml().c_str()), tinyxml2::XML_SUCCESS);
    const tinyxml2::XMLElement* suite = document.RootElement()->FirstChildElement("testsuite");
    ASSERT_NE(suite, nullptr);
    EXPECT_STREQ(suite->Attribute("name"), "Pass #1");
    EXPECT_EQ(suite->IntAttribute("tests"), 2);
    const tinyxml2::XMLElement* first = suite->FirstChildElement("testcase");
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->Attribute("name"), "first");
    ASSERT_NE(first->NextSiblingElement(), nullptr);
    EXPECT_STREQ(first->NextSiblingElement()->Attribute("name"), "second");
    EXPECT_EQ(first->NextSiblingElement()->NextSiblingElement(), nullptr);
    EXPECT_EQ(suite->NextSiblingElement(), nullptr);
}

TEST(JunitReport, MarkupInStepsAndFailuresSurvives)
{
    const std::string step = "load <cert> & \"key\" 'now'";
    const std::string line = "ERROR: std::exception caught: a < b && c > d";
    CJunitReport report;
    report.BeginPass(7);
    report.OnLogLine("INFO", step);
    report.Fail(line);
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.Parse(report.Xml().c_str()), tinyxml2::XML_SUCCESS);
    const tinyxml2::XMLElement* root = document.RootElement();
    EXPECT_EQ(root->IntAttribute("failures"), 1);
    const tinyxml2::XMLElement* testcase = root->FirstChildElement("testsuite")->FirstChildElement("testcase");
    EXPECT_EQ(testcase->Attribute("name"), step);
    EXPECT_STREQ(testcase->Attribute("classname"), "tokentest.pass7");
    const tinyxml2::XMLElement* failure = testcase->FirstChildElement("failure");
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->Attribute("message"), line);
    EXPECT_EQ(failure->GetText(), line);
}

TEST(JunitReport, AnErrorLineFailsTheRunningStepOnly)
{
    CJunitReport report;
    report.BeginPass(1);
    report.OnLogLine("INFO", "Logging in using default PIN");
    report.OnLogLine("ERROR", "Can not authenticate into token using default PIN.");
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.Parse(report.Xml().c_str()), tinyxml2::XML_SUCCESS);
    const tinyxml2::XMLElement* suite = document.RootElement()->FirstChildElement("testsuite");
    EXPECT_EQ(suite->IntAttribute("tests"), 1);
    EXPECT_EQ(suite->IntAttribute("failures"), 1);
    EXPECT_STREQ(suite->FirstChildElement("testcase")->FirstChildElement("failure")->Attribute("message"),
                 "ERROR: Can not authenticate into token using default PIN.");
}

TEST(JunitReport, RepeatedLinesAreNumberedWithinTheirSuiteOnly)
{
    CJunitReport report;
    for (int pass = 1; pass <= 2; ++pass) {
        report.BeginPass(pass);
        for (const char* line : {"delete", "other", "delete", "delete", "delete (2)"}) {
            report.OnLogLine("INFO", line);
        }
        report.EndPass();
    }
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.Parse(report.Xml().c_str()), tinyxml2::XML_SUCCESS);
    const std::vector<std::string> expected{"delete", "other", "delete (2)", "delete (3)", "delete (2) (2)"};
    const tinyxml2::XMLElement* suite = document.RootElement()->FirstChildElement("testsuite");
    EXPECT_EQ(TestcaseNames(*suite), expected);
    EXPECT_EQ(TestcaseNames(*suite->NextSiblingElement()), expected);
}

TEST(JunitReport, NotesJoinTheFailureOfTheRunningStep)
{
    CJunitReport report;
    Logger::SetListener(&report);
    Logger logger;
    report.BeginPass(1);
    logger.info("Trying to change PIN back to default");
    {
        const Logger::FailureNotes notes;
        logger.info("restored");
        logger.error("not restored");
    }
    report.Fail("PKCS ERROR in X : CKR_DEVICE_ERROR");
    Logger::SetListener(nullptr);
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.Parse(report.Xml().c_str()), tinyxml2::XML_SUCCESS);
    const tinyxml2::XMLElement* root = document.RootElement();
    EXPECT_EQ(root->IntAttribute("tests"), 1);
    EXPECT_EQ(root->IntAttribute("failures"), 1);
    const tinyxml2::XMLElement* failure = root->FirstChildElement("testsuite")->FirstChildElement("testcase")
                                              ->FirstChildElement("failure");
    ASSERT_NE(failure, nullptr);
    EXPECT_STREQ(failure->Attribute("message"), "PKCS ERROR in X : CKR_DEVICE_ERROR");
    EXPECT_STREQ(failure->GetText(), "PKCS ERROR in X : CKR_DEVICE_ERROR\nINFO: restored\nERROR: not restored");
}

TEST(JunitReport, PropertiesGoToEverySuiteInTheOrderFirstSet)
{
    CJunitReport report;
    report.SetProperty("b", "1");
    report.SetProperty("a", "2");
    report.SetProperty("b", "3");
    report.BeginPass(1);
    report.EndPass();
    report.FailSlotSearch("ERROR: none");
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.Parse(report.Xml().c_str()), tinyxml2::XML_SUCCESS);
    int suites = 0;
    for (const auto* suite = document.RootElement()->FirstChildElement("testsuite"); suite;
         suite = suite->NextSiblingElement(), ++suites) {
        std::vector<std::string> properties;
        for (const auto* p = suite->FirstChildElement("properties")->FirstChildElement(); p; p = p->NextSiblingElement()) {
            properties.push_back(std::string(p->Attribute("name")) + "=" + p->Attribute("value"));
        }
        EXPECT_EQ(properties, (std::vector<std::string>{"b=3", "a=2"}));
        EXPECT_NE(suite->Attribute("hostname"), nullptr);
        EXPECT_NE(suite->Attribute("timestamp"), nullptr);
    }
    EXPECT_EQ(suites, 2);
}

TEST(JunitReport, TextXmlCannotHoldBecomesAQuestionMark)
{
    struct Case {
        std::string text;
        std::string written;
    };
    for (const Case& c : {Case{"bell\x07 and escape \x1b[0m", "bell? and escape ?[0m"},
                          Case{"latin-1 \xe9t\xe9", "latin-1 ?t?"},
                          Case{"cut \xe2\x82", "cut ??"},
                          Case{"utf-8 \xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\x91", "utf-8 \xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\x91"},
                          Case{"tab\tline\nend", "tab\tline\nend"},
                          Case{"\xff\xfe\xc0\x80", "????"}}) {
        CJunitReport report;
        report.SetProperty("token.label", c.text);
        report.BeginPass(1);
        report.OnLogLine("INFO", c.text);
        report.Fail(c.text);
        tinyxml2::XMLDocument document;
        ASSERT_EQ(document.Parse(report.Xml().c_str()), tinyxml2::XML_SUCCESS) << c.text;
        const tinyxml2::XMLElement* suite = document.RootElement()->FirstChildElement("testsuite");
        EXPECT_EQ(suite->FirstChildElement("properties")->FirstChildElement()->Attribute("value"), c.written);
        const tinyxml2::XMLElement* testcase = suite->FirstChildElement("testcase");
        EXPECT_EQ(testcase->FirstChildElement("failure")->GetText(), c.written);
    }
}

}  // namespace

namespace {

// With steps named by the pass (--keep-going): INFO lines are no steps, a failure keeps the
// pass going and adds up, a skipped step carries its reason and counts as skipped.
TEST(JunitReport, NamedStepsCarryTheirFailuresAndSkips)
{
    CJunitReport report;
    report.NameStepsExplicitly();
    report.BeginPass(1);
    report.BeginStep("first");
    report.OnLogLine("INFO", "a line inside the step");
    report.OnLogLine("ERROR", "the restore failed");
    report.FailStep("PKCS ERROR in X : CKR_DEVICE_ERROR");
    report.SkipStep("second", "the token lists no CKM_GOSTR3410");
    report.BeginStep("third");
    report.EndPass();
    tinyxml2::XMLDocument document;
    ASSERT_EQ(document.Parse(report.Xml().c_str()), tinyxml2::XML_SUCCESS);
    const tinyxml2::XMLElement* root = document.RootElement();
    EXPECT_EQ(root->Attribute("skipped"), nullptr);
    EXPECT_EQ(root->IntAttribute("failures"), 1);
    const tinyxml2::XMLElement* suite = root->FirstChildElement("testsuite");
    EXPECT_EQ(suite->IntAttribute("tests"), 3);
    EXPECT_EQ(suite->IntAttribute("skipped"), 1);
    const tinyxml2::XMLElement* first = suite->FirstChildElement("testcase");
    EXPECT_STREQ(first->Attribute("name"), "first");
    EXPECT_STREQ(first->FirstChildElement("failure")->Attribute("message"), "ERROR: the restore failed");
    EXPECT_STREQ(first->FirstChildElement("failure")->GetText(),
                 "ERROR: the restore failed\nPKCS ERROR in X : CKR_DEVICE_ERROR");
    const tinyxml2::XMLElement* second = first->NextSiblingElement("testcase");
    EXPECT_STREQ(second->Attribute("name"), "second");
    EXPECT_STREQ(second->FirstChildElement("skipped")->Attribute("message"), "the token lists no CKM_GOSTR3410");
    const tinyxml2::XMLElement* third = second->NextSiblingElement("testcase");
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->FirstChildElement(), nullptr);
}

}  // namespace
