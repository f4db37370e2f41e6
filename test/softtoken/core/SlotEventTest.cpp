// C_WaitForSlotEvent: the token's slots never change, so a poll finds no event and a
// blocking wait is not offered.
#include "SoftTokenFixture.h"

#include <ostream>
#include <string>

namespace softtoken_test {
namespace {

struct WaitCase {
    const char* name;
    CK_FLAGS flags;
    bool slotPointer;
    bool reserved;  // a non-null third argument
    CK_RV expected;
};

const WaitCase kWaitCases[] = {
    {"PollFindsNoEvent", CKF_DONT_BLOCK, true, false, CKR_NO_EVENT},
    {"PollWithOtherBitsFindsNoEvent", CKF_DONT_BLOCK | 0x100, true, false, CKR_NO_EVENT},
    {"BlockingWaitIsNotOffered", 0, true, false, CKR_FUNCTION_NOT_SUPPORTED},
    {"PollWithoutSlotPointer", CKF_DONT_BLOCK, false, false, CKR_ARGUMENTS_BAD},
    {"WaitWithoutSlotPointer", 0, false, false, CKR_ARGUMENTS_BAD},
    {"PollWithReservedArgument", CKF_DONT_BLOCK, true, true, CKR_ARGUMENTS_BAD},
};

void PrintTo(const WaitCase& testCase, std::ostream* out) { *out << testCase.name; }

class SlotEventTest : public SoftTokenTest, public ::testing::WithParamInterface<WaitCase> {};

// Each answer before and after C_Initialize, the slot left as it was.
TEST_P(SlotEventTest, Answers) {
    const WaitCase& testCase = GetParam();
    CK_SLOT_ID slot = 77;
    int reserved = 0;
    auto wait = [&] {
        return f->C_WaitForSlotEvent(testCase.flags, testCase.slotPointer ? &slot : nullptr,
                                     testCase.reserved ? &reserved : nullptr);
    };
    EXPECT_RV(testCase.expected, wait());
    EXPECT_EQ(77u, slot);
    ASSERT_RV(CKR_OK, f->C_Finalize(nullptr));
    EXPECT_RV(CKR_CRYPTOKI_NOT_INITIALIZED, wait());
    ASSERT_RV(CKR_OK, f->C_Initialize(nullptr));
    EXPECT_RV(testCase.expected, wait());
}

INSTANTIATE_TEST_SUITE_P(Calls, SlotEventTest, ::testing::ValuesIn(kWaitCases),
                         [](const ::testing::TestParamInfo<WaitCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace softtoken_test
