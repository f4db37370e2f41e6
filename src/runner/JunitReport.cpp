#include "runner/JunitReport.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

#include <tinyxml2.h>

#include "runner/ReportFile.h"

namespace {

const char kSlotSearchSuite[] = "Slot search";
const char kSlotSearchStep[] = "Searching for a slot with a token";

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string SecondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.3f", seconds);
    return text;
}

// Now in UTC, as JUnit timestamps are written: 2026-12-09T03:28:15.
std::string TimestampNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    char text[32] = "";
    if (gmtime_r(&now, &utc) != nullptr) {
        std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &utc);
    }
    return text;
}

std::string HostName()
{
    char name[256] = "";
    if (gethostname(name, sizeof(name) - 1) != 0) {
        return "unknown";
    }
    return name;
}

// Length of the well-formed UTF-8 sequence at text[i] (0 when there is none) that XML 1.0
// allows: no control character but tab, line feed and carriage return.
size_t XmlCharacterLength(const std::string& text, size_t i)
{
    const auto byte = [&](size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        return lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r' ? 1 : 0;
    }
    size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    }
    if (length == 0 || i + length > text.size()) {
        return 0;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
    }
    return length;
}

// Text from a module or a file made fit for XML: anything XML cannot hold becomes '?'.
std::string XmlText(const std::string& text)
{
    std::string fit;
    fit.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const size_t length = XmlCharacterLength(text, i);
        fit += length == 0 ? std::string("?") : text.substr(i, length);
        i += length == 0 ? 1 : length;
    }
    return fit;
}

struct Totals {
    size_t tests = 0;
    size_t failures = 0;
    size_t skipped = 0;
    double seconds = 0;

    void Add(const Totals& other)
    {
        tests += other.tests;
        failures += other.failures;
        skipped += other.skipped;
        seconds += other.seconds;
    }
};

// The counts and time that testsuites and testsuite both carry; Jenkins' schema allows the
// skipped count on testsuite only.
void SetTotals(tinyxml2::XMLElement& element, const Totals& totals, bool withSkipped)
{
    element.SetAttribute("tests", static_cast<int64_t>(totals.tests));
    element.SetAttribute("failures", static_cast<int64_t>(totals.failures));
    element.SetAttribute("errors", 0);
    if (withSkipped) {
        element.SetAttribute("skipped", static_cast<int64_t>(totals.skipped));
    }
    element.SetAttribute("time", SecondsText(totals.seconds).c_str());
}

// The failure line, then the notes that tell how the clean-up after it went.
std::string FailureText(const std::string& failure, const std::vector<std::string>& notes)
{
    std::string text = failure;
    for (const std::string& note : notes) {
        text += "\n" + note;
    }
    return text;
}

}  // namespace

void CJunitReport::BeginSuite(const std::string& name, const std::string& className)
{
    EndSuite();
    Suite suite;
    suite.name = name;
    suite.className = className;
    suite.start = Clock::now();
    suite.timestamp = TimestampNow();
    m_suites.push_back(std::move(suite));
    m_suiteOpen = true;
}

void CJunitReport::BeginPass(int64_t number)
{
    BeginSuite("Pass #" + std::to_string(number), "tokentest.pass" + std::to_string(number));
}

void CJunitReport::EndPass() { EndSuite(); }

void CJunitReport::Fail(const std::string& line)
{
    if (!m_stepOpen) {
        // Nothing of a pass was running: the failure came while the run was being prepared.
        if (!m_suiteOpen) {
            BeginSuite("Preparing the run", "tokentest.setup");
        }
        BeginStep(OpenSuite().name);
    }
    OpenSuite().steps.back().failure = line;
    EndSuite();
}

CJunitReport::Step& CJunitReport::SlotSearchStep()
{
    BeginSuite(kSlotSearchSuite, "tokentest.slots");
    BeginStep(kSlotSearchStep);
    return OpenSuite().steps.back();
}

void CJunitReport::FailSlotSearch(const std::string& line)
{
    SlotSearchStep().failure = line;
    EndSuite();
}

void CJunitReport::SkipSlotSearch(const std::string& reason)
{
    SlotSearchStep().skipped = reason;
    EndSuite();
}

void CJunitReport::SetProperty(const std::string& name, const std::string& value)
{
    auto known = std::find_if(m_properties.begin(), m_properties.end(),
                              [&](const auto& property) { return property.first == name; });
    if (known != m_properties.end()) {
        known->second = value;
    } else {
        m_properties.emplace_back(name, value);
    }
}

void CJunitReport::OnLogLine(const std::string& tag, const std::string& message)
{
    if (!m_suiteOpen) {
        return;
    }
    if (tag == "INFO" && !m_explicitSteps) {
        BeginStep(message);
    } else if (tag == "ERROR") {
        if (m_explicitSteps) {
            FailStep(tag + ": " + message);
        } else {
            Fail(tag + ": " + message);
        }
    }
}

void CJunitReport::FailStep(const std::string& line)
{
    if (!m_stepOpen) {
        return;
    }
    std::optional<std::string>& failure = OpenSuite().steps.back().failure;
    failure = failure ? *failure + "\n" + line : line;
}

void CJunitReport::SkipStep(const std::string& name, const std::string& reason)
{
    if (!m_suiteOpen) {
        return;
    }
    EndStep();
    Step step;
    step.line = name;
    step.name = UniqueStepName(name);
    step.skipped = reason;
    OpenSuite().steps.push_back(std::move(step));
}

void CJunitReport::OnFailureNote(const std::string& tag, const std::string& message)
{
    if (m_stepOpen) {
        OpenSuite().steps.back().notes.push_back(tag + ": " + message);
    }
}

CJunitReport::Suite& CJunitReport::OpenSuite() { return m_suites.back(); }

std::string CJunitReport::UniqueStepName(const std::string& line) const
{
    const std::vector<Step>& steps = m_suites.back().steps;
    const auto taken = [&](const std::string& name) {
        return std::any_of(steps.begin(), steps.end(), [&](const Step& step) { return step.name == name; });
    };
    const auto earlier = std::count_if(steps.begin(), steps.end(), [&](const Step& step) { return step.line == line; });
    if (earlier == 0 && !taken(line)) {
        return line;
    }
    // A logged line may itself look numbered ("X (2)"): count on until the name is free.
    auto number = std::max<decltype(earlier)>(earlier, 1);
    std::string name;
    do {
        name = line + " (" + std::to_string(++number) + ")";
    } while (taken(name));
    return name;
}

void CJunitReport::BeginStep(const std::string& name)
{
    EndStep();
    Step step;
    step.line = name;
    step.name = UniqueStepName(name);
    OpenSuite().steps.push_back(std::move(step));
    m_stepStart = Clock::now();
    m_stepOpen = true;
}

void CJunitReport::EndStep()
{
    if (m_stepOpen) {
        OpenSuite().steps.back().seconds = SecondsSince(m_stepStart);
        m_stepOpen = false;
    }
}

void CJunitReport::EndSuite()
{
    EndStep();
    if (m_suiteOpen) {
        OpenSuite().seconds = SecondsSince(OpenSuite().start);
        m_suiteOpen = false;
    }
}

std::string CJunitReport::Xml()
{
    EndSuite();
    tinyxml2::XMLDocument document;
    document.InsertEndChild(document.NewDeclaration());
    tinyxml2::XMLElement* root = document.NewElement("testsuites");
    document.InsertEndChild(root);
    root->SetAttribute("name", "tokentest");
    const std::string host = HostName();
    Totals all;
    for (const Suite& suite : m_suites) {
        tinyxml2::XMLElement* suiteElement = root->InsertNewChildElement("testsuite");
        suiteElement->SetAttribute("name", XmlText(suite.name).c_str());
        suiteElement->SetAttribute("hostname", XmlText(host).c_str());
        suiteElement->SetAttribute("timestamp", suite.timestamp.c_str());
        tinyxml2::XMLElement* properties = suiteElement->InsertNewChildElement("properties");
        for (const auto& [name, value] : m_properties) {
            tinyxml2::XMLElement* property = properties->InsertNewChildElement("property");
            property->SetAttribute("name", XmlText(name).c_str());
            property->SetAttribute("value", XmlText(value).c_str());
        }
        Totals totals;
        totals.seconds = suite.seconds;
        for (const Step& step : suite.steps) {
            tinyxml2::XMLElement* testcase = suiteElement->InsertNewChildElement("testcase");
            testcase->SetAttribute("name", XmlText(step.name).c_str());
            testcase->SetAttribute("classname", suite.className.c_str());
            testcase->SetAttribute("time", SecondsText(step.seconds).c_str());
            ++totals.tests;
            if (step.failure) {
                tinyxml2::XMLElement* failure = testcase->InsertNewChildElement("failure");
                // The first line in the message; every line in the text.
                failure->SetAttribute("message", XmlText(step.failure->substr(0, step.failure->find('\n'))).c_str());
                failure->SetText(XmlText(FailureText(*step.failure, step.notes)).c_str());
                ++totals.failures;
            } else if (step.skipped) {
                testcase->InsertNewChildElement("skipped")->SetAttribute("message", XmlText(*step.skipped).c_str());
                ++totals.skipped;
            }
        }
        SetTotals(*suiteElement, totals, true);
        all.Add(totals);
    }
    SetTotals(*root, all, false);
    tinyxml2::XMLPrinter printer;
    document.Print(&printer);
    return printer.CStr();
}

bool CJunitReport::Write(const std::string& path, std::string& error)
{
    return CReportFile::Write(path, Xml(), error);
}
