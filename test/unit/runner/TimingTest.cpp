// The "Time passed: " figure: clock ticks to seconds in the default stream format.
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "runner/TestRun.h"

namespace {

TEST(PassTiming, PrintsSecondsInDefaultFormat)
{
    struct Case {
        std::clock_t start;
        std::clock_t end;
        const char* text;
    };
    const Case cases[] = {
        {0, 0, "0"},
        {0, 2500000, "2.5"},
        {0, 3141592, "3.14159"},
        {0, 50000, "0.05"},
        {1000, 1001, "1e-06"},
        {7000000, 9500000, "2.5"},
        // Beyond 32 bits the difference stays whole: 5000 s, not 705.033 s.
        {0, 5000000000L, "5000"},
        {4294967296L, 4294967296L + 3000000, "3"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CTestRun::ElapsedText(c.start, c.end), c.text) << c.start << " .. " << c.end;
    }
}

}  // namespace
