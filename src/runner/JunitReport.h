#pragma once
// The JUnit XML report of a run: one testsuite per pass, one testcase per step line the pass
// logged, each with its wall-clock time; the step that was running when the run failed
// carries the failure with the line that reported it. Steps never reached are absent.
// With --keep-going the pass names its steps itself: every step is a testcase, failed ones
// carry their failure and skipped or not-run ones a skipped element with the reason.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/ILogListener.h"

class CJunitReport : public ILogListener {
public:
    void BeginPass(int64_t number);
    // The pass ran to its end.
    void EndPass();
    // The line that reported the failure ending the run; it fails the running step.
    void Fail(const std::string& line);
    // INFO lines of a pass are its steps; an ERROR line fails the running step.
    void OnLogLine(const std::string& tag, const std::string& message) override;

    // From now on steps begin only by BeginStep, never by an INFO line.
    void NameStepsExplicitly() { m_explicitSteps = true; }
    void BeginStep(const std::string& name);
    // Fails the running step and keeps the pass going; a second line adds to the failure.
    void FailStep(const std::string& line);
    void SkipStep(const std::string& name, const std::string& reason);

    // The report as XML; a step still running ends now.
    std::string Xml();
    // Writes the XML to `path` through a temporary file beside it and a rename, so the file
    // is either the old one or the whole new report. False with the reason in `error`.
    bool Write(const std::string& path, std::string& error);

private:
    using Clock = std::chrono::steady_clock;

    struct Step {
        std::string name;
        double seconds = 0;
        std::optional<std::string> failure;
        std::optional<std::string> skipped;
    };
    struct Suite {
        std::string name;
        std::string className;
        Clock::time_point start;
        double seconds = 0;
        std::vector<Step> steps;
    };

    void EndStep();
    void EndSuite();
    Suite& OpenSuite();

    std::vector<Suite> m_suites;
    bool m_suiteOpen = false;
    bool m_stepOpen = false;
    bool m_explicitSteps = false;
    Clock::time_point m_stepStart;
};
