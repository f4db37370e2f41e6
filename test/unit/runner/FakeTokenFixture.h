#pragma once
// A tests operator on the in-process fake module: one slot (id 7) holding a token whose
// PINs are the default PIN, chosen and logged in as the normal user, call log cleared.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FakeModule.h"
#include "tests/TestsOperator.h"

class FakeTokenFixture : public ::testing::Test {
protected:
    static constexpr CK_SLOT_ID kSlot = 7;

    void SetUp() override
    {
        fake::Reset();
        fake::AddSlot(kSlot, "Fake slot");
        m_tests = std::make_unique<CTestsOperator>();
    }

    void TearDown() override { m_tests.reset(); }

    void SelectAndLogIn()
    {
        ASSERT_TRUE(m_tests->SelectSlot());
        ASSERT_TRUE(m_tests->Authenticate(DefaultPin(), CKU_USER, CKF_RW_SESSION));
    }

    static std::vector<unsigned char> DefaultPin() { return {'5', '2', '8', '1', '6', '0', '3', '7'}; }

    // The recorded calls of one entry, in order.
    static std::vector<fake::Call> CallsOf(const std::string& name)
    {
        std::vector<fake::Call> found;
        for (const fake::Call& call : fake::Calls()) {
            if (call.name == name) {
                found.push_back(call);
            }
        }
        return found;
    }

    static fake::Bytes BytesOf(const std::string& text) { return fake::Bytes(text.begin(), text.end()); }

    std::unique_ptr<CTestsOperator> m_tests;
};
