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
