#pragma once
// One pass: the ordered token tests, each announced on the log before the tests operator
// runs it, with the groups the run settings choose. Without --keep-going the first failure
// ends the pass and the run; with it every step reaches a verdict.
#include "runner/KeepGoingPass.h"
#include "runner/RunSettings.h"
#include "support/Logger.h"
#include "tests/TestsOperator.h"

class CPassSequence {
public:
    CPassSequence(Logger& logger, CTestsOperator& tests, const CRunSettings& settings);

    // False when the token refused the default PIN; every other failure is thrown.
    bool Run();
    // The same steps, each reaching a verdict through `pass`.
    bool Run(CKeepGoingPass& pass);
    // The steps of a pass with these settings, for what they need of the token.
    std::vector<CPassStep> Steps(const std::vector<unsigned char>& pin);
    // The user PIN of the run as the logins send it.
    std::vector<unsigned char> UserPinBytes() const;

private:
    Logger& m_logger;
    CTestsOperator& m_tests;
    const CRunSettings& m_settings;
};
