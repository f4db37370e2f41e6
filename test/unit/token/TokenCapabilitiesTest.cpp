// What the token capabilities read from the fake module and why they refuse a step: missing
// mechanisms, flags, key sizes and key types, write protection, and what a token that tells
// nothing (or fails to) restricts.
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeModule.h"
#include "token/TokenCapabilities.h"

extern "C" CK_RV C_GetFunctionList(CK_FUNCTION_LIST** list);

namespace {

using ::testing::ElementsAre;

const CK_SLOT_ID kSlot = 3;

class TokenCapabilitiesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        fake::AddSlot(kSlot, "Fake slot");
        ASSERT_EQ(C_GetFunctionList(&m_functions), CKR_OK);
    }

    CTokenCapabilities Read(const std::vector<CK_MECHANISM_TYPE>& needed = {CKM_RSA_PKCS_KEY_PAIR_GEN, CKM_RSA_PKCS})
    {
        m_notes.clear();
        return CTokenCapabilities::Read(m_functions, kSlot, needed, m_notes);
    }

    static void AddRsa()
    {
        fake::AddMechanism({CKM_RSA_PKCS_KEY_PAIR_GEN, 1024, 4096, CKF_GENERATE_KEY_PAIR});
        fake::AddMechanism({CKM_RSA_PKCS, 1024, 4096, CKF_SIGN | CKF_VERIFY});
    }

    static std::string Reason(const CTokenCapabilities& capabilities, const CTokenNeeds& needs)
    {
        return capabilities.ReasonAgainst(needs).value_or("none");
    }

    CK_FUNCTION_LIST* m_functions = nullptr;
    std::vector<std::string> m_notes;
};

TEST_F(TokenCapabilitiesTest, RefusesWhatTheTokenSaysItCannotDo)
{
    AddRsa();
    const CTokenCapabilities capabilities = Read();
    EXPECT_TRUE(m_notes.empty());
    struct Case {
        CTokenNeeds needs;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {{}, "none"},
        {{{{CKM_RSA_PKCS_KEY_PAIR_GEN, CKF_GENERATE_KEY_PAIR, 2048}}, std::nullopt, true}, "none"},
        {{{{CKM_RSA_PKCS_KEY_PAIR_GEN, CKF_GENERATE_KEY_PAIR, 512}}, std::nullopt, false},
         "the token's CKM_RSA_PKCS_KEY_PAIR_GEN takes keys of 1024 to 4096 bits, not 512"},
        {{{{CKM_RSA_PKCS_KEY_PAIR_GEN, CKF_GENERATE_KEY_PAIR, 8192}}, std::nullopt, false},
         "the token's CKM_RSA_PKCS_KEY_PAIR_GEN takes keys of 1024 to 4096 bits, not 8192"},
        {{{{CKM_RSA_PKCS, CKF_SIGN | CKF_VERIFY | CKF_GENERATE, 0}}, std::nullopt, false},
         "the token's CKM_RSA_PKCS lacks CKF_GENERATE"},
        {{{{CKM_GOSTR3410_KEY_PAIR_GEN, CKF_GENERATE_KEY_PAIR, 0}}, std::nullopt, false},
         "the token lists no CKM_GOSTR3410_KEY_PAIR_GEN"},
        {{{}, CKK_RSA, false}, "none"},
        {{{}, CKK_GOSTR3410, false}, "the token lists no mechanism for CKK_GOSTR3410 keys"},
        {{{}, CKK_GOST28147, false}, "the token lists no mechanism for CKK_GOST28147 keys"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Reason(capabilities, c.needs), c.reason);
    }
}

TEST_F(TokenCapabilitiesTest, OneMechanismOfAKeyTypeIsEnoughForItsKeys)
{
    fake::AddMechanism({CKM_GOST28147_ECB, 32, 32, CKF_ENCRYPT});
    const CTokenCapabilities capabilities = Read({});
    EXPECT_EQ(Reason(capabilities, {{}, CKK_GOST28147, false}), "none");
    EXPECT_EQ(Reason(capabilities, {{{CKM_GOST28147_MAC, CKF_SIGN, 0}}, CKK_GOST28147, false}),
              "the token lists no CKM_GOST28147_MAC");
}

TEST_F(TokenCapabilitiesTest, AWriteProtectedTokenRefusesEveryWrite)
{
    fake::SetTokenFlags(CKF_TOKEN_INITIALIZED | CKF_WRITE_PROTECTED);
    AddRsa();
    const CTokenCapabilities capabilities = Read();
    EXPECT_TRUE(capabilities.WriteProtected());
    EXPECT_THAT(m_notes, ElementsAre("The token requires no login (no CKF_LOGIN_REQUIRED): the steps log in all the "
                                     "same"));
    EXPECT_EQ(Reason(capabilities, {{}, std::nullopt, true}), "the token is write-protected (CKF_WRITE_PROTECTED)");
    EXPECT_EQ(Reason(capabilities, {{}, std::nullopt, false}), "none");
}

TEST_F(TokenCapabilitiesTest, ATokenThatTellsNoMechanismsRestrictsNone)
{
    const CTokenCapabilities capabilities = Read();
    EXPECT_THAT(m_notes, ElementsAre("The token's C_GetMechanismList answered CKR_FUNCTION_NOT_SUPPORTED: no step is "
                                     "skipped for its mechanisms"));
    EXPECT_EQ(Reason(capabilities, {{{CKM_GOSTR3410_KEY_PAIR_GEN, CKF_GENERATE_KEY_PAIR, 0}}, CKK_GOSTR3410, false}),
              "none");
}

TEST_F(TokenCapabilitiesTest, FailedInformationLeavesOnlyTheListToCheck)
{
    AddRsa();
    fake::Fail("C_GetMechanismInfo", CKR_DEVICE_ERROR, 2, true);
    fake::Fail("C_GetTokenInfo", CKR_DEVICE_REMOVED);
    const CTokenCapabilities capabilities = Read();
    EXPECT_THAT(m_notes, ElementsAre("The token's C_GetTokenInfo answered CKR_DEVICE_REMOVED: no step is skipped for "
                                     "the token's flags",
                                     "The token's C_GetMechanismInfo answered CKR_DEVICE_ERROR: its key sizes and "
                                     "flags are not checked for CKM_RSA_PKCS"));
    EXPECT_EQ(Reason(capabilities, {{{CKM_RSA_PKCS, CKF_GENERATE, 0}}, std::nullopt, true}), "none");
    EXPECT_EQ(Reason(capabilities, {{{CKM_RSA_PKCS_KEY_PAIR_GEN, 0, 512}}, std::nullopt, false}),
              "the token's CKM_RSA_PKCS_KEY_PAIR_GEN takes keys of 1024 to 4096 bits, not 512");
}

TEST_F(TokenCapabilitiesTest, AListThatGrewBetweenTheCallsIsAskedForAgain)
{
    AddRsa();
    fake::Fail("C_GetMechanismList", CKR_BUFFER_TOO_SMALL, 2, true);
    const CTokenCapabilities capabilities = Read({});
    EXPECT_TRUE(m_notes.empty());
    size_t listCalls = 0;
    for (const fake::Call& call : fake::Calls()) {
        listCalls += call.name == "C_GetMechanismList" ? 1 : 0;
    }
    EXPECT_EQ(listCalls, 4u);
    EXPECT_EQ(Reason(capabilities, {{{CKM_RSA_PKCS, 0, 0}}, std::nullopt, false}), "none");
    EXPECT_EQ(Reason(capabilities, {{{CKM_RSA_X_509, 0, 0}}, std::nullopt, false}), "the token lists no CKM_RSA_X_509");
}

TEST_F(TokenCapabilitiesTest, OnlyTheNeededMechanismsAreAskedAboutOnce)
{
    AddRsa();
    fake::AddMechanism({CKM_SHA256, 0, 0, CKF_DIGEST});
    Read({CKM_RSA_PKCS, CKM_RSA_PKCS, CKM_GOSTR3410});
    std::vector<CK_ULONG> asked;
    for (const fake::Call& call : fake::Calls()) {
        if (call.name == "C_GetMechanismInfo") {
            asked.push_back(call.args.at(1));
        }
    }
    EXPECT_THAT(asked, ElementsAre(CKM_RSA_PKCS));
}

}  // namespace
