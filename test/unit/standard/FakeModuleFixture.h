#pragma once
// The scripted fake module on one open read-write session, reached through a copy of its
// function list so that a test can swap single entries.
#include "FakeModule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace standard_test {

class FakeModuleTest : public ::testing::Test {
public:
    static constexpr CK_SLOT_ID kSlot = 4;

protected:

    void SetUp() override;
    void TearDown() override;

    // The names of the calls since SetUp (or the last ClearCalls).
    static std::vector<std::string> Names() { return fake::CallNames(); }
    static std::vector<fake::Call> CallsNamed(const std::string& name);
    // "type=0x.. value=hex" per line, so that templates compare byte for byte and readably.
    static std::string Describe(const std::vector<fake::Attribute>& attributes);

    CK_FUNCTION_LIST m_list = {};
    CK_SESSION_HANDLE m_session = CK_INVALID_HANDLE;
};

}  // namespace standard_test
