#pragma once
// The table of one pass's steps, in their order, for the groups the run settings choose;
// each step calls one operation of the tests operator.
#include <vector>

#include "runner/PassStep.h"
#include "runner/RunSettings.h"
#include "support/Logger.h"
#include "tests/TestsOperator.h"

class CPassPlan {
public:
    // The steps keep references to the arguments: they must outlive the steps. `pin` is
    // what the logins of the pass send.
    static std::vector<CPassStep> Steps(const CRunSettings& settings, CTestsOperator& tests, Logger& logger,
                                        const std::vector<unsigned char>& pin);
    // Every mechanism some step of any pass may need, for reading their information once.
    static std::vector<CK_MECHANISM_TYPE> NeededMechanisms(const std::vector<CPassStep>& steps);
};
