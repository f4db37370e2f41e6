#include "runner/JunitReport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <tinyxml2.h>

namespace {

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

// The counts and time that testsuites and testsuite carry.
struct Totals {
    size_t tests = 0;
    size_t failures = 0;
    size_t skipped = 0;
    double seconds = 0;
};

// The skipped count only on a testsuite: the common format has none on testsuites.
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

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

std::string Reason(const std::string& what, const std::string& path)
{
    return what + " \"" + path + "\": " + std::strerror(errno);
}

}  // namespace

void CJunitReport::BeginPass(int64_t number)
{
    EndSuite();
    Suite suite;
    suite.name = "Pass #" + std::to_string(number);
    suite.className = "tokentest.pass" + std::to_string(number);
    suite.start = Clock::now();
    m_suites.push_back(std::move(suite));
    m_suiteOpen = true;
}

void CJunitReport::EndPass() { EndSuite(); }

void CJunitReport::Fail(const std::string& line)
{
    if (!m_stepOpen) {
        // Nothing of a pass was running: the failure came while the run was being prepared.
        if (!m_suiteOpen) {
            m_suites.push_back(Suite{"Preparing the run", "tokentest.setup", Clock::now(), 0, {}});
            m_suiteOpen = true;
        }
        BeginStep(m_suites.back().name);
    }
    m_suites.back().steps.back().failure = line;
    EndSuite();
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
    Step step{name, 0, std::nullopt, reason};
    OpenSuite().steps.push_back(step);
}

CJunitReport::Suite& CJunitReport::OpenSuite() { return m_suites.back(); }

void CJunitReport::BeginStep(const std::string& name)
{
    EndStep();
    OpenSuite().steps.push_back(Step{name, 0, std::nullopt, std::nullopt});
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
    Totals run;
    for (const Suite& suite : m_suites) {
        tinyxml2::XMLElement* suiteElement = root->InsertNewChildElement("testsuite");
        suiteElement->SetAttribute("name", suite.name.c_str());
        Totals pass;
        pass.tests = suite.steps.size();
        pass.seconds = suite.seconds;
        for (const Step& step : suite.steps) {
            tinyxml2::XMLElement* testcase = suiteElement->InsertNewChildElement("testcase");
            testcase->SetAttribute("name", step.name.c_str());
            testcase->SetAttribute("classname", suite.className.c_str());
            testcase->SetAttribute("time", SecondsText(step.seconds).c_str());
            if (step.failure) {
                tinyxml2::XMLElement* failure = testcase->InsertNewChildElement("failure");
                // The first line in the message; every line in the text.
                failure->SetAttribute("message", step.failure->substr(0, step.failure->find('\n')).c_str());
                failure->SetText(step.failure->c_str());
                ++pass.failures;
            } else if (step.skipped) {
                testcase->InsertNewChildElement("skipped")->SetAttribute("message", step.skipped->c_str());
                ++pass.skipped;
            }
        }
        SetTotals(*suiteElement, pass, true);
        run.tests += pass.tests;
        run.failures += pass.failures;
        run.skipped += pass.skipped;
        run.seconds += pass.seconds;
    }
    SetTotals(*root, run, false);
    tinyxml2::XMLPrinter printer;
    document.Print(&printer);
    return printer.CStr();
}

bool CJunitReport::Write(const std::string& path, std::string& error)
{
    const std::string xml = Xml();
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        error = Reason("cannot create a temporary file for", path);
        return false;
    }
    // mkstemp makes the file private; the report gets the mode a new file would get.
    const mode_t mask = umask(0);
    umask(mask);
    std::unique_ptr<FILE, FileCloser> file(fdopen(fd, "w"));
    bool written = file != nullptr && fchmod(fd, 0666 & ~mask) == 0 &&
                   std::fwrite(xml.data(), 1, xml.size(), file.get()) == xml.size() && std::fflush(file.get()) == 0 &&
                   fsync(fd) == 0;
    if (file == nullptr) {
        close(fd);
    }
    written = written && std::fclose(file.release()) == 0 && std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!written) {
        error = Reason("cannot write", path);
        unlink(temporary.c_str());
    }
    return written;
}
