// Entry point of tokentest: reads the command line, runs the tests and reports the failure
// that ended them.
#include <exception>
#include <iostream>

#include "runner/ErrorReport.h"
#include "runner/RunSettings.h"
#include "runner/TestRun.h"
#include "support/PKCSException.h"

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
    // Everything the run built is gone, the module finalised and unloaded, before a
    // handler writes its line.
    try {
        return CTestRun(settings).Run();
    } catch (const CPKCSException& e) {
        CErrorReport::Write(std::cout, CErrorReport::PkcsLine(e));
    } catch (const std::exception& e) {
        CErrorReport::Write(std::cout, CErrorReport::StdLine(e));
    } catch (...) {
        CErrorReport::Write(std::cout, CErrorReport::UnknownLine());
    }
    return CTestRun::kStatusFailure;
}
