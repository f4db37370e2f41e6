// Entry point of tokentest: reads the command line, runs the tests, reports the failure
// that ended them and writes the JUnit report that was asked for.
#include <exception>
#include <iostream>
#include <string>

#include "runner/ErrorReport.h"
#include "runner/JunitReport.h"
#include "runner/RunSettings.h"
#include "runner/TestRun.h"
#include "support/Logger.h"
#include "support/PKCSException.h"

namespace {

// Everything the run built is gone, the module finalised and unloaded, before a handler
// writes its line.
int RunReportingFailure(const CRunSettings& settings, CJunitReport* report)
{
    std::string line;
    try {
        return CTestRun(settings, report).Run();
    } catch (const CPKCSException& e) {
        line = CErrorReport::PkcsLine(e);
    } catch (const std::exception& e) {
        line = CErrorReport::StdLine(e);
    } catch (...) {
        line = CErrorReport::UnknownLine();
    }
    CErrorReport::Write(std::cout, line);
    if (report != nullptr) {
        report->Fail(line);
    }
    return CTestRun::kStatusFailure;
}

// The run with its steps recorded; the report is written whatever the outcome.
int RunWithJunitReport(const CRunSettings& settings)
{
    CJunitReport report;
    Logger::SetListener(&report);
    const int status = RunReportingFailure(settings, &report);
    Logger::SetListener(nullptr);
    std::string error;
    if (!report.Write(settings.junitPath, error)) {
        std::cerr << "warning: JUnit report not written: " << error << "\n" << std::flush;
    }
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
    if (!settings.junitPath.empty()) {
        return RunWithJunitReport(settings);
    }
    return RunReportingFailure(settings, nullptr);
}
