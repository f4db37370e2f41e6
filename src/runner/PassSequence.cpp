#include "runner/PassSequence.h"

#include <string>
#include <vector>

#include "runner/PassPlan.h"

#include "support/InterruptSignals.h"

CPassSequence::CPassSequence(Logger& logger, CTestsOperator& tests, const CRunSettings& settings)
    : m_logger(logger), m_tests(tests), m_settings(settings)
{
}

std::vector<unsigned char> CPassSequence::UserPinBytes() const
{
    const std::string pin = m_tests.Pins().UserPin();
    return std::vector<unsigned char>(pin.begin(), pin.end());
}

std::vector<CPassStep> CPassSequence::Steps(const std::vector<unsigned char>& pin)
{
    return CPassPlan::Steps(m_settings, m_tests, m_logger, pin);
}

bool CPassSequence::Run()
{
    const std::vector<unsigned char> defaultPinBytes = UserPinBytes();
    for (const CPassStep& step : Steps(defaultPinBytes)) {
        // An interrupt lets the step in progress finish and stops before the next one.
        CInterruptSignals::ThrowIfPending();
        if (!step.announcement.empty()) {
            m_logger.info(step.announcement);
        }
        if (step.IsMessageOnly()) {
            continue;
        }
        if (!step.run()) {
            return false;
        }
        if (!step.closingLine.empty()) {
            m_logger.info(step.closingLine);
        }
    }
    return true;
}

bool CPassSequence::Run(CKeepGoingPass& pass)
{
    const std::vector<unsigned char> defaultPinBytes = UserPinBytes();
    return pass.Run(Steps(defaultPinBytes));
}
