#pragma once
// The whole test run: announcement, module, slot choice and the timed passes. Returns the
// exit status of a run that ended without an exception; exceptions leave it only after
// everything it built, the loaded module included, has been released.
#include <ctime>
#include <string>

#include "runner/JunitReport.h"
#include "runner/RunSettings.h"
#include "token/ModuleOptions.h"

class CTestsOperator;

class CTestRun {
public:
    static const int kStatusOk = 0;
    static const int kStatusModuleNotLoaded = 1;   // set where the module is loaded
    static const int kStatusFailure = 2;           // after a reported exception
    static const int kStatusNoToken = 3;
    static const int kStatusPinAtRisk = 4;         // a PIN about to be used is locked or at its final try
    static const int kStatusPinRefused = 255;

    // The report, when given, hears where each pass begins and ends.
    explicit CTestRun(const CRunSettings& settings, CJunitReport* report = nullptr);

    int Run();

    // The processor seconds between two clock() readings as printed after each pass: the
    // whole difference (never narrowed) in single precision, default stream format.
    static std::string ElapsedText(std::clock_t start, std::clock_t end);

private:
    // --list-slots: the listing alone, no announcement and no token touched.
    int ListSlots();
    CModuleOptions ModuleOptions() const;
    // The report's properties: the utility and its options, the module, the chosen slot
    // and token (and the slot search's testcase of a run without passes).
    void ReportRun();
    void ReportModule(CTestsOperator& tests);
    void ReportChosenSlot(CTestsOperator& tests);

    const CRunSettings& m_settings;
    CJunitReport* m_report;
};
