// The JUnit report in process: which log lines become testcases and failures, and text
// that XML must escape coming back unchanged.
#include <string>

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include "runner/JunitReport.h"

namespace {

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
