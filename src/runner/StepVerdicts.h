#pragma once
// The verdicts of a --keep-going run: each step of each pass passed, failed, was skipped
// for what the token lacks, or was not run for a step it needed. After the last pass it
// writes the summary and tells whether any step failed.
#include <string>
#include <vector>

#include "support/Logger.h"

enum class StepVerdict { Passed, Failed, Skipped, NotRun };

class CStepVerdicts {
public:
    void BeginPass() { ++m_passes; }
    // `reason`: the failure's report line, or why the step was skipped or not run.
    void Record(const std::string& step, StepVerdict verdict, const std::string& reason = std::string());

    // "Failed", "Not run" ... as the summary names a verdict; "failed", "was not run" ...
    // as a line says how a needed step ended.
    static const char* Name(StepVerdict verdict);
    static const char* HowItEnded(StepVerdict verdict);

    bool AnyFailed() const { return Count(StepVerdict::Failed) != 0; }
    size_t Count(StepVerdict verdict) const;

    // One line per step and verdict other than passed, in the order the steps first came,
    // with in how many passes it happened and its first reason; then the counts.
    void WriteSummary(Logger& logger) const;

private:
    struct Entry {
        std::string step;
        StepVerdict verdict;
        std::string reason;
        int passes = 0;
        int lastPass = 0;
    };

    std::vector<Entry> m_entries;
    std::vector<size_t> m_counts = std::vector<size_t>(4, 0);
    int m_passes = 0;
};
