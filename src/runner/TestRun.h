#pragma once
// The whole test run: announcement, module, slot choice and the timed passes. Returns the
// exit status of a run that ended without an exception; exceptions leave it only after
// everything it built, the loaded module included, has been released.
#include <ctime>
#include <functional>
#include <optional>
#include <string>

#include "runner/JunitReport.h"
#include "runner/RunSettings.h"
#include "runner/TokenLock.h"
#include "support/Logger.h"
#include "tests/PinJournal.h"
#include "token/ModuleOptions.h"

class CPassSequence;
class CTestsOperator;
class Logger;

class CTestRun {
public:
    static const int kStatusOk = 0;
    static const int kStatusModuleNotLoaded = 1;   // set where the module is loaded
    static const int kStatusFailure = 2;           // after a reported exception
    static const int kStatusNoToken = 3;
    static const int kStatusPinAtRisk = 4;         // a PIN about to be used is locked or at its final try
    static const int kStatusPinRefused = 255;
    static const int kStatusSignalBase = 128;      // plus the signal that interrupted the run

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
    // The timed passes, each run by `runPass`; the status when none was refused the PIN.
    int RunPasses(CTestsOperator& tests, const std::function<bool(CPassSequence&)>& runPass, Logger& logger);
    // --keep-going: what the token can do is read first, every step gets a verdict, and a
    // summary follows the last pass.
    int RunKeepingGoing(CTestsOperator& tests, Logger& logger);
    // Before anything changes on the chosen token: its lock (false when another run holds
    // it) and the journal, with the recovery of a PIN an earlier run left temporary.
    bool TakeToken(Logger& logger, CTestsOperator& tests, std::optional<CTokenLock>& lock,
                   std::optional<CPinJournal>& journal);
    // The report's properties: the utility and its options, the module, the chosen slot
    // and token (and the slot search's testcase of a run without passes).
    void ReportRun();
    void ReportModule(CTestsOperator& tests);
    void ReportChosenSlot(CTestsOperator& tests);

    const CRunSettings& m_settings;
    CJunitReport* m_report;
};
