// Several processes on one store at once: no PIN change is lost, the try limit is exact, and
// the sessions of a re-initialised token end without leaving anything behind.
#include "ConcurrencyScenarios.h"
#include "TempDir.h"

#include <gtest/gtest.h>

namespace softtoken_test {
namespace {

class ConcurrencyTest : public ::testing::Test {
protected:
    TempDir m_dir{"softtoken-concurrency-"};
    ConcurrencyScenarios m_scenarios{SOFTTOKEN_MODULE_PATH, m_dir.Path()};
};

TEST_F(ConcurrencyTest, PinChangesOfTwoProcessesAreNeverLost) {
    const PinChangeCounts counts = m_scenarios.PinChanges(50);
    EXPECT_EQ(50, counts.rounds);
    EXPECT_EQ(100, counts.changes);
    EXPECT_EQ(0, counts.lost);
    EXPECT_EQ(0, counts.failed);
}

TEST_F(ConcurrencyTest, WrongPinsLockAfterExactlyTenTriesWhileTheSoPinChanges) {
    const LockoutCounts counts = m_scenarios.WrongPinsWhileSoPinChanges(10);
    EXPECT_EQ(10, counts.rounds);
    EXPECT_EQ(std::vector<int>(10, 10), counts.tries);
    EXPECT_EQ(10, counts.exact) << "the right PIN must answer CKR_PIN_LOCKED after the tenth wrong one";
    EXPECT_EQ(0, counts.soPinsLost);
    EXPECT_EQ(0, counts.failed);
}

TEST_F(ConcurrencyTest, ReinitialisationEndsTheSessionsOfTheOldToken) {
    const ReinitCounts counts = m_scenarios.ReinitialisationUnderALoggedInSession(10);
    EXPECT_EQ(10, counts.rounds);
    EXPECT_EQ(30, counts.staleCalls);
    EXPECT_EQ(0, counts.staleNotInvalid);
    EXPECT_EQ(0, counts.oldRowsLeft);
    EXPECT_EQ(0, counts.newSessionFailures);
}

TEST_F(ConcurrencyTest, TwoRunsAtOnceLeaveThePinsAndNoObjects) {
    const TwoRunCounts counts = m_scenarios.TwoRunsAtOnce(20);
    EXPECT_EQ(20, counts.rounds);
    EXPECT_EQ(0, counts.notSetBack);
    EXPECT_EQ(0, counts.pinsNotRestored);
    EXPECT_EQ(0, counts.objectsLeft);
    EXPECT_EQ(0, counts.failed);
}

}  // namespace
}  // namespace softtoken_test
