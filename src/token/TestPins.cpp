#include "token/TestPins.h"

#include <utility>

namespace {

// The first of these that is neither PIN of the run is the temporary PIN.
const char* const kTemporaryCandidates[] = {"26074913", "39517246", "84062751"};

}  // namespace

const char CTestPins::kDefaultPin[] = "52816037";

CTestPins::CTestPins() : CTestPins(kDefaultPin, kDefaultPin) {}

CTestPins::CTestPins(std::string soPin, std::string userPin)
    : m_soPin(std::move(soPin)), m_userPin(std::move(userPin))
{
    for (const char* candidate : kTemporaryCandidates) {
        if (candidate != m_soPin && candidate != m_userPin) {
            m_temporaryPin = candidate;
            break;
        }
    }
}

const std::string& CTestPins::PinOf(CK_USER_TYPE userType) const { return userType == CKU_SO ? m_soPin : m_userPin; }

std::string CTestPins::Describe(CK_USER_TYPE userType) const
{
    const std::string& pin = PinOf(userType);
    return pin == kDefaultPin ? std::string("the default PIN ") + kDefaultPin : std::string("the PIN given for the run");
}
