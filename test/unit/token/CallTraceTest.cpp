// The call trace around the fake module's function list: every entry wrapped and still
// forwarding, one line per call with names, lengths and results, PINs and key bytes masked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "FakeModule.h"
#include "token/CallTrace.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const size_t kEntries = 68 + 5;

// The entries of a list as raw addresses, in their order.
std::vector<void*> EntriesOf(const CK_KTL_FUNCTION_LIST& list)
{
    static_assert(sizeof(CK_KTL_FUNCTION_LIST) == offsetof(CK_FUNCTION_LIST, C_Initialize) + kEntries * sizeof(void*),
                  "the list is the version and one pointer per entry");
    std::vector<void*> entries(kEntries);
    std::memcpy(entries.data(), reinterpret_cast<const char*>(&list) + offsetof(CK_FUNCTION_LIST, C_Initialize),
                kEntries * sizeof(void*));
    return entries;
}

// The fake's list, copied, and a traced copy of it writing into `trace`.
class CallTraceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        fake::AddSlot(1, "Fake reader");
        CK_FUNCTION_LIST* module = nullptr;
        ASSERT_EQ(C_GetFunctionList(&module), CKR_OK);
        std::memcpy(&original, module, sizeof(original));
        traced = original;
        CCallTrace::Wrap(traced, trace);
        ASSERT_EQ(f().C_Initialize(nullptr), CKR_OK);
        ASSERT_EQ(f().C_OpenSession(1, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session), CKR_OK);
        trace.str("");
    }
    void TearDown() override { original.standard.C_Finalize(nullptr); }

    CK_FUNCTION_LIST& f() { return traced.standard; }

    // The one line the trace holds, without its duration.
    std::string OnlyLine()
    {
        const std::string text = trace.str();
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
        static const std::regex kDuration(R"( \(\d+\.\d{3} ms\)\n$)");
        EXPECT_TRUE(std::regex_search(text, kDuration)) << text;
        trace.str("");
        return std::regex_replace(text, kDuration, "");
    }

    CK_KTL_FUNCTION_LIST original;
    CK_KTL_FUNCTION_LIST traced;
    std::ostringstream trace;
    CK_SESSION_HANDLE session = 0;
};

TEST_F(CallTraceTest, EveryEntryIsReplacedAndANullEntryStaysNull)
{
    CK_KTL_FUNCTION_LIST list = original;
    list.C_KTL_VerifySignature = nullptr;
    CCallTrace::Wrap(list, trace);
    const std::vector<void*> before = EntriesOf(original);
    const std::vector<void*> after = EntriesOf(list);
    for (size_t i = 0; i + 1 < kEntries; ++i) {
        ASSERT_NE(before[i], nullptr) << "entry " << i;
        EXPECT_NE(after[i], before[i]) << "entry " << i;
    }
    EXPECT_EQ(list.C_KTL_VerifySignature, nullptr);
    EXPECT_EQ(std::memcmp(&list.standard.version, &original.standard.version, sizeof(CK_VERSION)), 0);
}

TEST_F(CallTraceTest, WrappingTwiceForwardsOnceAndWritesOneLine)
{
    CCallTrace::Wrap(traced, trace);
    EXPECT_EQ(f().C_Logout(session), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(OnlyLine(), "C_Logout(" + std::to_string(session) + ") = CKR_USER_NOT_LOGGED_IN");
    EXPECT_EQ(fake::CallNames().back(), "C_Logout");
}

TEST_F(CallTraceTest, TheModulesResultIsReturnedAndNamed)
{
    fake::Fail("C_CloseSession", CKR_DEVICE_ERROR);
    EXPECT_EQ(f().C_CloseSession(7), CKR_DEVICE_ERROR);
    EXPECT_EQ(OnlyLine(), "C_CloseSession(7) = CKR_DEVICE_ERROR");
    fake::Fail("C_CloseSession", 0x80000123UL);
    EXPECT_EQ(f().C_CloseSession(7), 0x80000123UL);
    EXPECT_EQ(OnlyLine(), "C_CloseSession(7) = 0x80000123");
}

TEST_F(CallTraceTest, PinsAppearAsStarsWithTheirLength)
{
    CK_UTF8CHAR pin[] = {'5', '2', '8', '1', '6', '0', '3', '7'};
    CK_UTF8CHAR other[] = {'2', '6', '0', '7', '4', '9', '1', '3', '9'};
    CK_UTF8CHAR label[32];
    std::memset(label, ' ', sizeof(label));
    std::memcpy(label, "KORVEL Token", 12);

    EXPECT_EQ(f().C_Login(session, CKU_USER, pin, sizeof(pin)), CKR_OK);
    EXPECT_EQ(OnlyLine(), "C_Login(" + std::to_string(session) + ", 1, ***[8 bytes]) = CKR_OK");
    EXPECT_EQ(f().C_SetPIN(session, pin, sizeof(pin), other, sizeof(other)), CKR_OK);
    EXPECT_EQ(OnlyLine(), "C_SetPIN(" + std::to_string(session) + ", ***[8 bytes], ***[9 bytes]) = CKR_OK");
    // Refused: a session is open.
    EXPECT_EQ(f().C_InitToken(1, pin, sizeof(pin), label), CKR_SESSION_EXISTS);
    EXPECT_EQ(OnlyLine(), "C_InitToken(1, ***[8 bytes], \"KORVEL Token\") = CKR_SESSION_EXISTS");
    CK_BYTE p12[] = {0x30, 0x01, 0x00};
    CK_BYTE password[] = {'3', '5', '7'};
    traced.C_KTL_LoadCert(session, p12, sizeof(p12), password, sizeof(password));
    EXPECT_THAT(OnlyLine(), HasSubstr("C_KTL_LoadCert(" + std::to_string(session) + ", ***[3 bytes], ***[3 bytes])"));
}

TEST_F(CallTraceTest, TemplatesShowNamesAndValuesButNoKeyBytes)
{
    CK_OBJECT_CLASS keyClass = CKO_SECRET_KEY;
    CK_KEY_TYPE keyType = CKK_GOST28147;
    CK_BBOOL yes = CK_TRUE;
    CK_BYTE id = 0x3b;
    CK_BYTE value[] = {0x2c, 0x1a, 0x7f, 0x3e, 0x9b, 0x4d, 0x6e, 0x8f};
    char label[] = "mac key";
    CK_ATTRIBUTE attributes[] = {
        {CKA_CLASS, &keyClass, sizeof(keyClass)}, {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
        {CKA_TOKEN, &yes, sizeof(yes)},           {CKA_ID, &id, sizeof(id)},
        {CKA_LABEL, label, 7},                    {CKA_VALUE, value, sizeof(value)},
        {0x80001234UL, value, 2},
    };
    CK_OBJECT_HANDLE handle = 0;
    ASSERT_EQ(f().C_CreateObject(session, attributes, 7, &handle), CKR_OK);
    const std::string line = OnlyLine();
    EXPECT_EQ(line, "C_CreateObject(" + std::to_string(session) +
                        ", {CKA_CLASS=CKO_SECRET_KEY, CKA_KEY_TYPE=CKK_GOST28147, CKA_TOKEN=true, CKA_ID=3b, "
                        "CKA_LABEL=\"mac key\", CKA_VALUE=***[8 bytes], 0x80001234=[2 bytes]}, ->" +
                        std::to_string(handle) + ") = CKR_OK");
    EXPECT_THAT(line, Not(HasSubstr("2c1a")));

    CK_BYTE buffer[16];
    CK_ATTRIBUTE read[] = {{CKA_VALUE, buffer, sizeof(buffer)}, {CKA_MODULUS, nullptr, 0}};
    f().C_GetAttributeValue(session, handle, read, 2);
    EXPECT_THAT(OnlyLine(), HasSubstr("C_GetAttributeValue(" + std::to_string(session) + ", " +
                                      std::to_string(handle) + ", {CKA_VALUE[8 bytes], CKA_MODULUS[unavailable]})"));
}

TEST_F(CallTraceTest, MechanismsLengthsAndOutputs)
{
    const CK_OBJECT_HANDLE key = fake::AddObject({fake::Ulong(CKA_CLASS, CKO_PRIVATE_KEY)});
    CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
    ASSERT_EQ(f().C_SignInit(session, &mechanism, key), CKR_OK);
    EXPECT_EQ(OnlyLine(),
              "C_SignInit(" + std::to_string(session) + ", CKM_RSA_PKCS, " + std::to_string(key) + ") = CKR_OK");

    CK_BYTE data[32] = {};
    CK_ULONG length = 0;
    ASSERT_EQ(f().C_Sign(session, data, sizeof(data), nullptr, &length), CKR_OK);
    EXPECT_EQ(OnlyLine(), "C_Sign(" + std::to_string(session) + ", [32 bytes], null, 0->64) = CKR_OK");
    std::vector<CK_BYTE> signature(length);
    ASSERT_EQ(f().C_Sign(session, data, sizeof(data), signature.data(), &length), CKR_OK);
    EXPECT_EQ(OnlyLine(), "C_Sign(" + std::to_string(session) + ", [32 bytes], buffer, 64->64) = CKR_OK");

    CK_BYTE params[] = {0x06, 0x01, 0x2a};
    CK_MECHANISM withParameter = {CKM_GOSTR3410_KEY_PAIR_GEN, params, sizeof(params)};
    CK_MECHANISM unknown = {0x8000abcdUL, nullptr, 0};
    f().C_VerifyInit(session, &withParameter, 9);
    EXPECT_EQ(OnlyLine(), "C_VerifyInit(" + std::to_string(session) +
                              ", CKM_GOSTR3410_KEY_PAIR_GEN(parameter [3 bytes]), 9) = CKR_KEY_HANDLE_INVALID");
    f().C_DigestInit(session, &unknown);
    EXPECT_EQ(OnlyLine(), "C_DigestInit(" + std::to_string(session) + ", 0x8000abcd) = CKR_FUNCTION_NOT_SUPPORTED");
}

TEST_F(CallTraceTest, ListsAndSearchesShowWhatTheModuleReturned)
{
    fake::AddSlot(4, "Second reader");
    CK_ULONG count = 0;
    ASSERT_EQ(f().C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    EXPECT_EQ(OnlyLine(), "C_GetSlotList(1, null, 0->2) = CKR_OK");
    std::vector<CK_SLOT_ID> slots(count);
    ASSERT_EQ(f().C_GetSlotList(CK_TRUE, slots.data(), &count), CKR_OK);
    EXPECT_EQ(OnlyLine(), "C_GetSlotList(1, [1, 4]) = CKR_OK");

    const CK_OBJECT_HANDLE first = fake::AddObject({fake::Byte(CKA_ID, 1)});
    ASSERT_EQ(f().C_FindObjectsInit(session, nullptr, 0), CKR_OK);
    EXPECT_EQ(OnlyLine(), "C_FindObjectsInit(" + std::to_string(session) + ", null, 0) = CKR_OK");
    CK_OBJECT_HANDLE found[4];
    ASSERT_EQ(f().C_FindObjects(session, found, 4, &count), CKR_OK);
    EXPECT_EQ(OnlyLine(), "C_FindObjects(" + std::to_string(session) + ", max 4->[" + std::to_string(first) +
                              "]) = CKR_OK");
}

}  // namespace
