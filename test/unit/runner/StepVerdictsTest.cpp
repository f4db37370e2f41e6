// The summary of a --keep-going run: one line per step and verdict other than passed, in
// how many passes, the first reason, and the counts of every verdict.
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "runner/StepVerdicts.h"
#include "support/ILogListener.h"
#include "support/Logger.h"

namespace {

using ::testing::ElementsAre;

class LineCollector : public ILogListener {
public:
    LineCollector() { Logger::SetListener(this); }
    ~LineCollector() override { Logger::SetListener(nullptr); }
    void OnLogLine(const std::string& tag, const std::string& message) override { lines.push_back(tag + ": " + message); }
    void OnFailureNote(const std::string&, const std::string&) override {}
    std::vector<std::string> lines;
};

TEST(StepVerdicts, SummaryListsEachStepAndVerdictWithItsPasses)
{
    CStepVerdicts verdicts;
    verdicts.BeginPass();
    verdicts.Record("A", StepVerdict::Failed, "PKCS ERROR in X : CKR_DEVICE_ERROR");
    verdicts.Record("B", StepVerdict::Skipped, "the token lists no CKM_GOSTR3410");
    verdicts.Record("C", StepVerdict::Passed);
    verdicts.BeginPass();
    verdicts.Record("A", StepVerdict::Passed);
    verdicts.Record("B", StepVerdict::Skipped, "the token lists no CKM_GOSTR3410");
    verdicts.Record("B", StepVerdict::Skipped, "the token lists no CKM_GOSTR3410");
    verdicts.Record("D", StepVerdict::NotRun, "it needs \"A\", which failed");
    EXPECT_TRUE(verdicts.AnyFailed());
    LineCollector collector;
    Logger logger;
    verdicts.WriteSummary(logger);
    EXPECT_THAT(collector.lines,
                ElementsAre("INFO: Summary of 2 passes:",
                            "ERROR: Failed in 1 of 2 passes: A: PKCS ERROR in X : CKR_DEVICE_ERROR",
                            "INFO: Skipped in 2 of 2 passes: B: the token lists no CKM_GOSTR3410",
                            "INFO: Not run in 1 of 2 passes: D: it needs \"A\", which failed",
                            "INFO: Steps passed: 2, failed: 1, skipped: 3, not run: 1"));
}

TEST(StepVerdicts, SkipsAloneAreNoFailure)
{
    CStepVerdicts verdicts;
    verdicts.BeginPass();
    verdicts.Record("B", StepVerdict::Skipped, "the token is write-protected (CKF_WRITE_PROTECTED)");
    verdicts.Record("D", StepVerdict::NotRun, "it needs \"B\", which was skipped");
    EXPECT_FALSE(verdicts.AnyFailed());
    LineCollector collector;
    Logger logger;
    verdicts.WriteSummary(logger);
    EXPECT_EQ(collector.lines.front(), "INFO: Summary of 1 pass:");
    EXPECT_EQ(collector.lines.back(), "INFO: Steps passed: 0, failed: 0, skipped: 1, not run: 1");
}

}  // namespace
