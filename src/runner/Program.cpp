// Entry point of tokentest: reads the command line, runs the tests, reports the failure
// that ended them and writes the JUnit report that was asked for.
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "runner/ErrorReport.h"
#include "runner/JunitReport.h"
#include "runner/RunSettings.h"
#include "runner/TestRun.h"
#include "support/InterruptException.h"
#include "support/InterruptSignals.h"
#include "support/Logger.h"
#include "support/ModuleLoadException.h"
#include "support/PKCSException.h"
#include "support/PinGuardException.h"

namespace {

std::string InterruptLine(int signalNumber) { return "ERROR: interrupted by signal " + std::to_string(signalNumber); }

// Everything the run built is gone, the module finalised and unloaded, before a handler
// writes its line.
int RunReportingFailure(const CRunSettings& settings, CJunitReport* report)
{
    std::string line;
    std::vector<std::string> callLines;
    try {
        const int status = CTestRun(settings, report).Run();
        // A signal after the last step: the run is complete, but the caller asked to stop.
        if (CInterruptSignals::Pending() != 0) {
            CErrorReport::Write(std::cout, InterruptLine(CInterruptSignals::Pending()));
            return CTestRun::kStatusSignalBase + CInterruptSignals::Pending();
        }
        return status;
    } catch (const CInterruptException& e) {
        // Torn down as after a failure; the step that was running is the one marked.
        CErrorReport::Write(std::cout, InterruptLine(e.Signal()));
        if (report != nullptr) {
            report->Fail("interrupted");
        }
        return CTestRun::kStatusSignalBase + e.Signal();
    } catch (const CModuleLoadException& e) {
        // The failure as reported for any run, then which module lacks what.
        line = e.PkcsFailure() ? CErrorReport::PkcsLine(*e.PkcsFailure()) : CErrorReport::StdLine(e);
        CErrorReport::Write(std::cout, line);
        CErrorReport::Write(std::cout, "ERROR: " + e.ModuleLine());
        if (report != nullptr) {
            report->Fail(line);
        }
        return CTestRun::kStatusModuleNotLoaded;
    } catch (const CPinGuardException& e) {
        // Nothing was tried on the token: a status of its own.
        line = std::string("ERROR: ") + e.what();
        CErrorReport::Write(std::cout, line);
        if (report != nullptr) {
            report->Fail(line);
        }
        return CTestRun::kStatusPinAtRisk;
    } catch (const CPKCSException& e) {
        line = CErrorReport::PkcsLine(e);
        callLines = CErrorReport::FailingCallLines(e);
    } catch (const std::exception& e) {
        line = CErrorReport::StdLine(e);
        callLines = CErrorReport::FailingCallLines(e);
    } catch (...) {
        line = CErrorReport::UnknownLine();
    }
    CErrorReport::Write(std::cout, line);
    CErrorReport::Write(std::cout, callLines);
    if (report != nullptr) {
        report->Fail(line);
    }
    return CTestRun::kStatusFailure;
}

// The report of the run in progress and its file, while the run can still end the process.
CJunitReport* g_pendingReport = nullptr;
const std::string* g_pendingPath = nullptr;

void WritePendingReport()
{
    if (g_pendingReport == nullptr) {
        return;
    }
    Logger::SetListener(nullptr);
    std::string error;
    if (!g_pendingReport->Write(*g_pendingPath, error)) {
        std::cerr << "warning: JUnit report not written: " << error << "\n" << std::flush;
    }
    g_pendingReport = nullptr;
}

// A module that cannot be loaded ends the process with status 1 from inside the run; the
// report is written then too, with that failure.
void WriteReportOfUnloadedModule()
{
    if (g_pendingReport != nullptr) {
        g_pendingReport->Fail("the PKCS#11 module could not be loaded");
        WritePendingReport();
    }
}

// The run with its steps recorded; the report is written whatever the outcome.
int RunWithJunitReport(const CRunSettings& settings)
{
    CJunitReport report;
    g_pendingReport = &report;
    g_pendingPath = &settings.junitPath;
    std::atexit(WriteReportOfUnloadedModule);
    Logger::SetListener(&report);
    const int status = RunReportingFailure(settings, &report);
    WritePendingReport();
    return status;
}

}  // namespace

int main(int argc, char* argv[])
{
    const CRunSettings settings = CRunSettings::Parse(argc, argv);
    settings.WriteWarnings(std::cerr);
    if (settings.showHelp) {
        CRunSettings::WriteUsage(std::cout);
        return CTestRun::kStatusOk;
    }
    if (settings.showVersion) {
        CRunSettings::WriteVersion(std::cout);
        return CTestRun::kStatusOk;
    }
    if (!settings.errors.empty()) {
        settings.WriteErrors(std::cerr);
        return CTestRun::kStatusFailure;
    }
    const CInterruptSignals interrupts;
    if (!settings.junitPath.empty()) {
        return RunWithJunitReport(settings);
    }
    return RunReportingFailure(settings, nullptr);
}
