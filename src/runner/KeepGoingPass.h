#pragma once
// One pass of a --keep-going run: every step reaches a verdict. A failing step is reported
// as a failure that ends a run would be, and the pass goes on; a step that needs what a
// failed step should have left is not run, one the token says it cannot do is skipped, each
// with a line naming why.
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "runner/JunitReport.h"
#include "runner/PassStep.h"
#include "runner/StepVerdicts.h"
#include "support/Logger.h"
#include "token/TokenCapabilities.h"

class CKeepGoingPass {
public:
    // `report` may be null.
    CKeepGoingPass(Logger& logger, const CTokenCapabilities& capabilities, CStepVerdicts& verdicts,
                   CJunitReport* report);

    // False when the token refused the default PIN: the pass ends there and the rest of
    // its steps are recorded as not run. A CPinGuardException, and anything that is not a
    // step failure, leaves the pass.
    bool Run(const std::vector<CPassStep>& steps);

    // Writes the report line of a failed step, as the run's end would write it; `failure`
    // is a CPKCSException or a std::exception. Returns the line.
    std::string ReportStepFailure(const std::exception_ptr& failure);

private:
    struct Blocked {
        StepVerdict verdict;
        std::string reason;
    };
    struct Resource {
        std::string step;
        StepVerdict verdict;
    };

    // The verdict of one step that is not a message.
    StepVerdict RunStep(const CPassStep& step);
    StepVerdict Attempt(const CPassStep& step, std::string& failureLine);
    std::optional<Blocked> BlockedBy(const CPassStep& step) const;
    void Block(const CPassStep& step, const Blocked& blocked);
    void RecordRest(const std::vector<CPassStep>& steps, size_t first);

    Logger& m_logger;
    const CTokenCapabilities& m_capabilities;
    CStepVerdicts& m_verdicts;
    CJunitReport* m_report;
    // The last step that was to leave each resource, and how it ended.
    std::map<PassResource, Resource> m_resources;
    bool m_refused = false;
};
