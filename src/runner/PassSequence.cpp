#include "runner/PassSequence.h"

#include <string>
#include <vector>

#include "runner/PassPlan.h"

namespace {

const std::string kDefaultPin = "52816037";

std::vector<unsigned char> DefaultPinBytes() { return std::vector<unsigned char>(kDefaultPin.begin(), kDefaultPin.end()); }

}  // namespace

CPassSequence::CPassSequence(Logger& logger, CTestsOperator& tests, const CRunSettings& settings)
    : m_logger(logger), m_tests(tests), m_settings(settings)
{
}

std::vector<CPassStep> CPassSequence::Steps(const std::vector<unsigned char>& pin)
{
    return CPassPlan::Steps(m_settings, m_tests, m_logger, pin);
}

bool CPassSequence::Run()
{
    const std::vector<unsigned char> defaultPinBytes = DefaultPinBytes();
    for (const CPassStep& step : Steps(defaultPinBytes)) {
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
    const std::vector<unsigned char> defaultPinBytes = DefaultPinBytes();
    return pass.Run(Steps(defaultPinBytes));
}
