#pragma once
// The whole test run: announcement, module, slot choice and the timed passes. Returns the
// exit status of a run that ended without an exception; exceptions leave it only after
// everything it built, the loaded module included, has been released.
#include <ctime>
#include <ostream>

#include "runner/RunSettings.h"

class CTestRun {
public:
    static const int kStatusOk = 0;
    static const int kStatusModuleNotLoaded = 1;   // set where the module is loaded
    static const int kStatusFailure = 2;           // after a reported exception
    static const int kStatusNoToken = 3;
    static const int kStatusPinRefused = 255;

    explicit CTestRun(const CRunSettings& settings);

    int Run();

    // The elapsed processor seconds between two clock() readings, without narrowing the
    // difference, as printed after each pass.
    static float ElapsedSeconds(std::clock_t start, std::clock_t end);

private:
    const CRunSettings& m_settings;
};
