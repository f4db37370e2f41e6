#include "runner/StepVerdicts.h"

#include <algorithm>

namespace {

// Indexed by StepVerdict.
const char* const kNames[] = {"Passed", "Failed", "Skipped", "Not run"};
const char* const kEndings[] = {"passed", "failed", "was skipped", "was not run"};

std::string Passes(int count) { return std::to_string(count) + (count == 1 ? " pass" : " passes"); }

}  // namespace

const char* CStepVerdicts::Name(StepVerdict verdict) { return kNames[static_cast<size_t>(verdict)]; }

const char* CStepVerdicts::HowItEnded(StepVerdict verdict) { return kEndings[static_cast<size_t>(verdict)]; }

void CStepVerdicts::Record(const std::string& step, StepVerdict verdict, const std::string& reason)
{
    ++m_counts[static_cast<size_t>(verdict)];
    if (verdict == StepVerdict::Passed) {
        return;
    }
    auto entry = std::find_if(m_entries.begin(), m_entries.end(),
                              [&](const Entry& e) { return e.step == step && e.verdict == verdict; });
    if (entry == m_entries.end()) {
        m_entries.push_back(Entry{step, verdict, reason, 0, 0});
        entry = m_entries.end() - 1;
    }
    // A step counts once per pass, whatever it shares a name with.
    if (entry->lastPass != m_passes) {
        ++entry->passes;
        entry->lastPass = m_passes;
    }
}

size_t CStepVerdicts::Count(StepVerdict verdict) const { return m_counts[static_cast<size_t>(verdict)]; }

void CStepVerdicts::WriteSummary(Logger& logger) const
{
    logger.info("Summary of " + Passes(m_passes) + ":");
    for (const Entry& entry : m_entries) {
        const std::string line = std::string(Name(entry.verdict)) + " in " + std::to_string(entry.passes) +
                                 " of " + Passes(m_passes) + ": " + entry.step + ": " + entry.reason;
        if (entry.verdict == StepVerdict::Failed) {
            logger.error(line);
        } else {
            logger.info(line);
        }
    }
    logger.info("Steps passed: " + std::to_string(Count(StepVerdict::Passed)) +
                ", failed: " + std::to_string(Count(StepVerdict::Failed)) +
                ", skipped: " + std::to_string(Count(StepVerdict::Skipped)) +
                ", not run: " + std::to_string(Count(StepVerdict::NotRun)));
}
