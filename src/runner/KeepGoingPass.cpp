#include "runner/KeepGoingPass.h"

#include <iostream>
#include <vector>

#include "runner/ErrorReport.h"
#include "support/InterruptSignals.h"
#include "support/PKCSException.h"
#include "support/PinGuardException.h"

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

CKeepGoingPass::CKeepGoingPass(Logger& logger, const CTokenCapabilities& capabilities, CStepVerdicts& verdicts,
                               CJunitReport* report)
    : m_logger(logger), m_capabilities(capabilities), m_verdicts(verdicts), m_report(report)
{
}

bool CKeepGoingPass::Run(const std::vector<CPassStep>& steps)
{
    for (size_t i = 0; i < steps.size(); ++i) {
        const CPassStep& step = steps[i];
        // An interrupt ends the run between steps, never inside one.
        CInterruptSignals::ThrowIfPending();
        if (step.IsMessageOnly()) {
            m_logger.info(step.announcement);
            continue;
        }
        const StepVerdict verdict = RunStep(step);
        if (step.provides) {
            m_resources[*step.provides] = Resource{step.name, verdict};
        }
        if (m_refused) {
            RecordRest(steps, i + 1);
            return false;
        }
    }
    return true;
}

StepVerdict CKeepGoingPass::RunStep(const CPassStep& step)
{
    if (const std::optional<Blocked> blocked = BlockedBy(step)) {
        Block(step, *blocked);
        if (step.whenBlocked) {
            step.whenBlocked();
        }
        return blocked->verdict;
    }
    if (!step.announcement.empty()) {
        m_logger.info(step.announcement);
    }
    if (m_report != nullptr) {
        m_report->BeginStep(step.name);
    }
    std::string failureLine;
    const StepVerdict verdict = Attempt(step, failureLine);
    if (verdict == StepVerdict::Passed && !step.closingLine.empty()) {
        m_logger.info(step.closingLine);
    }
    m_verdicts.Record(step.name, verdict, failureLine);
    return verdict;
}

StepVerdict CKeepGoingPass::Attempt(const CPassStep& step, std::string& failureLine)
{
    try {
        if (step.run()) {
            return StepVerdict::Passed;
        }
        // The refusal's own line has been written.
        failureLine = "the token refused the default PIN";
        m_refused = true;
        return StepVerdict::Failed;
    } catch (const CPinGuardException&) {
        // A PIN at risk ends the run whatever the mode: the next try could lock it.
        throw;
    } catch (const CPKCSException&) {
        failureLine = ReportStepFailure(std::current_exception());
    } catch (const std::exception&) {
        failureLine = ReportStepFailure(std::current_exception());
    }
    return StepVerdict::Failed;
}

std::string CKeepGoingPass::ReportStepFailure(const std::exception_ptr& failure)
{
    std::string line;
    std::vector<std::string> callLines;
    try {
        std::rethrow_exception(failure);
    } catch (const CPKCSException& e) {
        line = CErrorReport::PkcsLine(e);
        callLines = CErrorReport::FailingCallLines(e);
    } catch (const std::exception& e) {
        line = CErrorReport::StdLine(e);
        callLines = CErrorReport::FailingCallLines(e);
    }
    CErrorReport::Write(std::cout, line);
    CErrorReport::Write(std::cout, callLines);
    if (m_report != nullptr) {
        m_report->FailStep(line);
    }
    return line;
}

std::optional<CKeepGoingPass::Blocked> CKeepGoingPass::BlockedBy(const CPassStep& step) const
{
    for (PassResource resource : step.needs) {
        const auto found = m_resources.find(resource);
        if (found == m_resources.end() || found->second.verdict == StepVerdict::Passed) {
            continue;
        }
        const Resource& missing = found->second;
        const StepVerdict verdict = missing.verdict == StepVerdict::Skipped ? StepVerdict::Skipped : StepVerdict::NotRun;
        return Blocked{verdict, "it needs " + Quoted(missing.step) + ", which " + CStepVerdicts::HowItEnded(missing.verdict)};
    }
    if (std::optional<std::string> reason = m_capabilities.ReasonAgainst(step.token)) {
        return Blocked{StepVerdict::Skipped, *reason};
    }
    return std::nullopt;
}

void CKeepGoingPass::Block(const CPassStep& step, const Blocked& blocked)
{
    const char* what = blocked.verdict == StepVerdict::Skipped ? "Skipping " : "Not running ";
    m_logger.info(what + Quoted(step.name) + ": " + blocked.reason);
    if (m_report != nullptr) {
        m_report->SkipStep(step.name, blocked.reason);
    }
    m_verdicts.Record(step.name, blocked.verdict, blocked.reason);
}

void CKeepGoingPass::RecordRest(const std::vector<CPassStep>& steps, size_t first)
{
    const std::string reason = "the token refused the default PIN, which ends the run";
    for (size_t i = first; i < steps.size(); ++i) {
        if (steps[i].IsMessageOnly()) {
            continue;
        }
        if (m_report != nullptr) {
            m_report->SkipStep(steps[i].name, reason);
        }
        m_verdicts.Record(steps[i].name, StepVerdict::NotRun, reason);
    }
}
