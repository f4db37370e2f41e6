#pragma once
// The JUnit XML report of a run: one testsuite per pass, one testcase per step line the pass
// logged (a line repeated within a pass gets its occurrence number), each with its
// wall-clock time; the step that was running when the run failed carries the failure with
// the line that reported it. Steps never reached are absent. A run without a pass has one
// testcase for its slot search. Every suite carries the host, its start time and the
// properties that identify the module, token and options of the run.
// With --keep-going the pass names its steps itself: every step is a testcase, failed ones
// carry their failure and skipped or not-run ones a skipped element with the reason.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/ILogListener.h"

class CJunitReport : public ILogListener {
public:
    void BeginPass(int64_t number);
    // The pass ran to its end.
    void EndPass();
    // The line that reported the failure ending the run; it fails the running step.
    void Fail(const std::string& line);
    // A run that found no token: the slot search fails with the line that said so.
    void FailSlotSearch(const std::string& line);
    // A run without passes: the slot search is skipped for `reason`.
    void SkipSlotSearch(const std::string& reason);
    // A property of the run, given to every suite; a name set again keeps its place.
    void SetProperty(const std::string& name, const std::string& value);
    // INFO lines of a pass are its steps; an ERROR line fails the running step.
    void OnLogLine(const std::string& tag, const std::string& message) override;
    // Notes go with the failure of the running step.
    void OnFailureNote(const std::string& tag, const std::string& message) override;

    // From now on steps begin only by BeginStep, never by an INFO line.
    void NameStepsExplicitly() { m_explicitSteps = true; }
    void BeginStep(const std::string& name);
    // Fails the running step and keeps the pass going; a second line adds to the failure.
    void FailStep(const std::string& line);
    void SkipStep(const std::string& name, const std::string& reason);

    // The report as XML; a step still running ends now.
    std::string Xml();
    // Writes the XML to `path` (see CReportFile). False with the reason in `error`.
    bool Write(const std::string& path, std::string& error);

private:
    using Clock = std::chrono::steady_clock;

    struct Step {
        std::string line;   // the step line as logged
        std::string name;   // unique within its suite
        double seconds = 0;
        std::optional<std::string> failure;
        std::optional<std::string> skipped;
        std::vector<std::string> notes;
    };
    struct Suite {
        std::string name;
        std::string className;
        Clock::time_point start;
        std::string timestamp;
        double seconds = 0;
        std::vector<Step> steps;
    };

    void BeginSuite(const std::string& name, const std::string& className);
    // The name a new step of the open suite gets: `line`, with " (N)" from its second time on.
    std::string UniqueStepName(const std::string& line) const;
    void EndStep();
    void EndSuite();
    Suite& OpenSuite();
    // Starts the testcase of the slot search in a suite of its own.
    Step& SlotSearchStep();

    std::vector<Suite> m_suites;
    std::vector<std::pair<std::string, std::string>> m_properties;
    bool m_suiteOpen = false;
    bool m_stepOpen = false;
    bool m_explicitSteps = false;
    Clock::time_point m_stepStart;
};
