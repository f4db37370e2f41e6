#pragma once
// The test files a run's options make the passes read, read once before the module is
// loaded: a run that would stop at a missing file stops before it touches any token.
#include "runner/RunSettings.h"

class CTestFiles {
public:
    // In the order the pass reads them: for the first file that cannot be read, the
    // open-failure message and the CustomException of the import step that reads it.
    static void Check(const CRunSettings& settings);
};
