// Checks of the fake module's own logic that the utility's tests rely on: the script
// parser, the log line, the two-call length protocol bounds and the token model's answers.
#include <gtest/gtest.h>

#include <sstream>

#include "CallRecorder.h"
#include "FakeModule.h"
#include "ScriptFile.h"
#include "tokentest/VendorFunctionList.h"

namespace {

using fake::Bytes;

CK_KTL_FUNCTION_LIST* Module()
{
    CK_FUNCTION_LIST* list = nullptr;
    EXPECT_EQ(C_GetFunctionList(&list), CKR_OK);
    return reinterpret_cast<CK_KTL_FUNCTION_LIST*>(list);
}

// The value of the object's attribute of that type, or "missing" as bytes.
Bytes Value(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
{
    for (const fake::Attribute& a : fake::ObjectAttributes(object)) {
        if (a.type == type) return a.value;
    }
    return Bytes{'m', 'i', 's', 's', 'i', 'n', 'g'};
}

fake::ScriptFile ParseText(const std::string& text)
{
    std::istringstream in(text);
    return fake::ScriptFile::Parse(in);
}

TEST(ScriptFile, ReadsEveryCommand)
{
    const fake::ScriptFile s = ParseText(
        "# comment\n"
        "\n"
        "slot 0x10 present Reader  A \n"
        "slot 3 absent\n"
        "slot 4 present hex:41004220\r\n"
        "pin so 1234\n"
        "locked user\n"
        "object CKA_CLASS=0100000000000000 0x102=3b CKA_LABEL=\n"
        "object\n"
        "fail C_Login CKR_PIN_LOCKED from 3 once\n"
        "fail C_Logout 0x80000001\n"
        "output C_Sign 0102\n"
        "length C_KTL_CreateCSR 4096\n"
        "flags 0x10000\n"
        "serial 4 SN-1\n"
        "null-entry C_SignInit C_Finalize\n"
        "null-entry C_Digest\n");
    ASSERT_EQ(s.slots.size(), 3u);
    EXPECT_EQ(s.slots[0].id, 0x10u);
    EXPECT_TRUE(s.slots[0].present);
    EXPECT_EQ(s.slots[0].description, "Reader  A ");
    EXPECT_FALSE(s.slots[1].present);
    EXPECT_EQ(s.slots[1].description, "");
    EXPECT_EQ(s.slots[2].description, std::string("A\0B ", 4));
    ASSERT_EQ(s.pins.size(), 1u);
    EXPECT_EQ(s.pins[0].user, CKU_SO);
    EXPECT_EQ(s.pins[0].pin, "1234");
    ASSERT_EQ(s.locked.size(), 1u);
    EXPECT_EQ(s.locked[0], CKU_USER);
    ASSERT_EQ(s.objects.size(), 2u);
    ASSERT_EQ(s.objects[0].size(), 3u);
    EXPECT_EQ(s.objects[0][0].value, fake::Ulong(CKA_CLASS, CKO_CERTIFICATE).value);
    EXPECT_EQ(s.objects[0][1].type, CKA_ID);
    EXPECT_EQ(s.objects[0][1].value, Bytes{0x3b});
    EXPECT_TRUE(s.objects[0][2].value.empty());
    EXPECT_TRUE(s.objects[1].empty());
    ASSERT_EQ(s.faults.size(), 2u);
    EXPECT_EQ(s.faults[0].rv, CKR_PIN_LOCKED);
    EXPECT_EQ(s.faults[0].fromCall, 3);
    EXPECT_TRUE(s.faults[0].once);
    EXPECT_EQ(s.faults[1].rv, 0x80000001u);
    EXPECT_EQ(s.faults[1].fromCall, 1);
    EXPECT_FALSE(s.faults[1].once);
    ASSERT_EQ(s.outputs.size(), 1u);
    EXPECT_EQ(s.outputs[0].bytes, (Bytes{1, 2}));
    ASSERT_EQ(s.lengths.size(), 1u);
    EXPECT_EQ(s.lengths[0].length, 4096u);
    EXPECT_EQ(s.tokenFlags, std::optional<CK_FLAGS>(0x10000));
    ASSERT_EQ(s.serials.size(), 1u);
    EXPECT_EQ(s.serials[0].first, 4u);
    EXPECT_EQ(s.serials[0].second, "SN-1");
    EXPECT_EQ(s.nullEntries, (std::vector<std::string>{"C_SignInit", "C_Finalize", "C_Digest"}));
}

TEST(ScriptFile, RejectsBadLinesNamingTheLine)
{
    const char* bad[] = {
        "slot x present A",     "slot 1 maybe A",        "slot 1",
        "pin admin 1",          "pin user",              "locked",
        "object CKA_ID",        "object CKA_NOPE=00",    "object 0x102=abc",
        "object 0x102=zz",      "fail C_Login CKR_NOPE", "fail C_Login 1 from 0",
        "fail C_Login 1 twice", "length C_Sign -1",      "frobnicate",
        "flags",                "flags x",               "serial 1",
        "null-entry",
        "mechanism CKM_NOPE 0 0 0", "mechanism 1 2 3",   "mechanism 1 2 3 x",
    };
    for (const char* line : bad) {
        try {
            ParseText("# first\n" + std::string(line) + "\n");
            ADD_FAILURE() << "accepted: " << line;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("line 2: ", 0), 0u) << e.what();
        }
    }
}

TEST(ScriptFile, MechanismsByNameOrNumber)
{
    const fake::ScriptFile s = ParseText("mechanism CKM_GOST28147_MAC 32 32 0x800\nmechanism 0x80000001 0 0 0\n");
    ASSERT_EQ(s.mechanisms.size(), 2u);
    EXPECT_EQ(s.mechanisms[0].type, CKM_GOST28147_MAC);
    EXPECT_EQ(s.mechanisms[0].minKeySize, 32u);
    EXPECT_EQ(s.mechanisms[0].flags, CKF_SIGN);
    EXPECT_EQ(s.mechanisms[1].type, 0x80000001u);
}

TEST(ScriptFile, ResultNamesBothWays)
{
    EXPECT_EQ(fake::ScriptFile::ParseResult("CKR_OK"), CKR_OK);
    EXPECT_EQ(fake::ScriptFile::ParseResult("CKR_CRYPTOKI_ALREADY_INITIALIZED"), 0x191u);
    EXPECT_EQ(fake::ScriptFile::ParseResult("CKR_VENDOR_DEFINED"), CKR_VENDOR_DEFINED);
    EXPECT_EQ(fake::ScriptFile::ParseResult("27"), 27u);
    EXPECT_EQ(fake::ScriptFile::ResultText(CKR_PIN_INCORRECT), "CKR_PIN_INCORRECT");
    EXPECT_EQ(fake::ScriptFile::ResultText(0x1B), "0x1b");
}

TEST(CallLog, OneLinePerCallWithEveryPart)
{
    fake::Call call;
    call.name = "C_GenerateKeyPair";
    call.args = {3, 2, 0};
    call.buffers = {Bytes{0xAB, 0x01}, std::nullopt, Bytes{}};
    fake::Attribute nullValue;
    nullValue.type = CKA_LABEL;
    nullValue.nullValue = true;
    nullValue.length = 7;
    call.templates = {{fake::Byte(CKA_ID, 0x64), nullValue}, {}};
    call.mechanism = CKM_RSA_PKCS_KEY_PAIR_GEN;
    call.outputNull = true;
    call.rv = CKR_TEMPLATE_INCOMPLETE;
    EXPECT_EQ(fake::CallRecorder::FormatLine(call),
              "C_GenerateKeyPair rv=CKR_TEMPLATE_INCOMPLETE args=3,2,0 bufs=ab01,null, "
              "tpls=0x102:1:64;0x3:7:null| mech=0x0: out=null");
}

class FakeModuleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        fake::AddSlot(5, "Reader");
        m = &Module()->standard;
        ASSERT_EQ(m->C_Initialize(nullptr), CKR_OK);
    }
    void TearDown() override { m->C_Finalize(nullptr); }

    CK_SESSION_HANDLE Open()
    {
        CK_SESSION_HANDLE h = 0;
        EXPECT_EQ(m->C_OpenSession(5, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h), CKR_OK);
        return h;
    }
    CK_RV Login(CK_SESSION_HANDLE h, CK_USER_TYPE user, std::string pin)
    {
        return m->C_Login(h, user, reinterpret_cast<CK_UTF8CHAR*>(pin.data()), pin.size());
    }

    CK_FUNCTION_LIST* m = nullptr;
};

TEST_F(FakeModuleTest, LoginStateIsTokenWide)
{
    const CK_SESSION_HANDLE a = Open();
    const CK_SESSION_HANDLE b = Open();
    EXPECT_NE(a, b);
    EXPECT_EQ(m->C_Logout(a), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(Login(a, CKU_USER, "wrong"), CKR_PIN_INCORRECT);
    EXPECT_EQ(Login(a, CKU_USER, "52816037"), CKR_OK);
    EXPECT_EQ(Login(b, CKU_USER, "52816037"), CKR_USER_ALREADY_LOGGED_IN);
    EXPECT_EQ(Login(b, CKU_SO, "52816037"), CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
    EXPECT_EQ(m->C_Logout(b), CKR_OK);
    EXPECT_FALSE(fake::LoggedInUser());
    fake::SetPinLocked(CKU_SO, true);
    EXPECT_EQ(Login(a, CKU_SO, "52816037"), CKR_PIN_LOCKED);
    EXPECT_EQ(Login(a, CKU_USER, "52816037"), CKR_OK);
    EXPECT_EQ(m->C_CloseAllSessions(5), CKR_OK);
    EXPECT_FALSE(fake::LoggedInUser());
    EXPECT_GT(Open(), b);   // handles are never reused
}

TEST_F(FakeModuleTest, InitTokenNeedsNoSessionAndResetsPinsAndObjects)
{
    fake::AddObject({fake::Byte(CKA_ID, 1)});
    CK_UTF8CHAR pin[] = {'9', '9'};
    CK_UTF8CHAR label[32];
    std::fill(std::begin(label), std::end(label), ' ');
    const CK_SESSION_HANDLE h = Open();
    EXPECT_EQ(m->C_InitToken(5, pin, 2, label), CKR_SESSION_EXISTS);
    EXPECT_EQ(m->C_CloseSession(h), CKR_OK);
    EXPECT_EQ(m->C_InitToken(5, pin, 2, label), CKR_OK);
    EXPECT_EQ(fake::Pin(CKU_SO), "99");
    EXPECT_EQ(fake::Pin(CKU_USER), "99");
    EXPECT_TRUE(fake::Objects().empty());

    const CK_SESSION_HANDLE s = Open();
    EXPECT_EQ(Login(s, CKU_USER, "99"), CKR_OK);
    CK_UTF8CHAR wrong[] = {'1'}, right[] = {'9', '9'}, next[] = {'7'};
    EXPECT_EQ(m->C_SetPIN(s, wrong, 1, next, 1), CKR_PIN_INCORRECT);
    EXPECT_EQ(m->C_SetPIN(s, right, 2, next, 1), CKR_OK);
    EXPECT_EQ(fake::Pin(CKU_USER), "7");
    EXPECT_EQ(fake::Pin(CKU_SO), "99");
}

TEST_F(FakeModuleTest, AbsentTokenRefusesInfoAndSessions)
{
    fake::SetTokenPresent(5, false);
    CK_TOKEN_INFO info;
    CK_SESSION_HANDLE h = 0;
    EXPECT_EQ(m->C_GetTokenInfo(5, &info), CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(m->C_OpenSession(5, CKF_SERIAL_SESSION, nullptr, nullptr, &h), CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(m->C_GetTokenInfo(6, &info), CKR_SLOT_ID_INVALID);
    CK_ULONG count = 9;
    EXPECT_EQ(m->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(FakeModuleTest, TokenInfoShowsScriptedFlagsAndSerial)
{
    CK_TOKEN_INFO info;
    ASSERT_EQ(m->C_GetTokenInfo(5, &info), CKR_OK);
    EXPECT_EQ(info.flags, fake::kDefaultTokenFlags);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.serialNumber), 16), std::string(16, ' '));
    fake::SetTokenFlags(CKF_SO_PIN_FINAL_TRY | CKF_SO_PIN_COUNT_LOW);
    fake::SetSerialNumber(5, "0123");
    ASSERT_EQ(m->C_GetTokenInfo(5, &info), CKR_OK);
    EXPECT_EQ(info.flags, static_cast<CK_FLAGS>(CKF_SO_PIN_FINAL_TRY | CKF_SO_PIN_COUNT_LOW));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.serialNumber), 16), "0123" + std::string(12, ' '));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.model), 10), "Fake model");
}

TEST_F(FakeModuleTest, SessionStateFollowsTheLogin)
{
    const CK_SESSION_HANDLE h = Open();
    CK_SESSION_INFO info;
    ASSERT_EQ(m->C_GetSessionInfo(h, &info), CKR_OK);
    EXPECT_EQ(info.state, static_cast<CK_STATE>(CKS_RW_PUBLIC_SESSION));
    EXPECT_EQ(Login(h, CKU_SO, "52816037"), CKR_OK);
    ASSERT_EQ(m->C_GetSessionInfo(h, &info), CKR_OK);
    EXPECT_EQ(info.state, static_cast<CK_STATE>(CKS_RW_SO_FUNCTIONS));
    EXPECT_EQ(m->C_Logout(h), CKR_OK);
    EXPECT_EQ(Login(h, CKU_USER, "52816037"), CKR_OK);
    ASSERT_EQ(m->C_GetSessionInfo(h, &info), CKR_OK);
    EXPECT_EQ(info.state, static_cast<CK_STATE>(CKS_RW_USER_FUNCTIONS));
    EXPECT_EQ(m->C_GetSessionInfo(h + 100, &info), CKR_SESSION_HANDLE_INVALID);
}

TEST_F(FakeModuleTest, GetAttributeValueFollowsTheTwoCallProtocol)
{
    const CK_OBJECT_HANDLE o = fake::AddObject({fake::Text(CKA_LABEL, "abc"), fake::Raw(CKA_ID, {})});
    const CK_SESSION_HANDLE h = Open();
    unsigned char buffer[8] = {0};
    CK_ATTRIBUTE t[3] = {{CKA_LABEL, nullptr, 0}, {CKA_ID, nullptr, 0}, {CKA_VALUE, nullptr, 0}};
    EXPECT_EQ(m->C_GetAttributeValue(h, o, t, 3), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(t[0].ulValueLen, 3u);
    EXPECT_EQ(t[1].ulValueLen, 0u);
    EXPECT_EQ(t[2].ulValueLen, CK_UNAVAILABLE_INFORMATION);

    CK_ATTRIBUTE small = {CKA_LABEL, buffer, 2};
    EXPECT_EQ(m->C_GetAttributeValue(h, o, &small, 1), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(small.ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(buffer[0], 0);
    CK_ATTRIBUTE fits = {CKA_LABEL, buffer, sizeof(buffer)};
    EXPECT_EQ(m->C_GetAttributeValue(h, o, &fits, 1), CKR_OK);
    EXPECT_EQ(fits.ulValueLen, 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "abc");
    EXPECT_EQ(m->C_GetAttributeValue(h, o + 100, &fits, 1), CKR_OBJECT_HANDLE_INVALID);
}

TEST_F(FakeModuleTest, SearchMatchesExactBytesOneSearchAtATime)
{
    const CK_OBJECT_HANDLE one = fake::AddObject({fake::Ulong(CKA_CLASS, CKO_CERTIFICATE), fake::Byte(CKA_ID, 59)});
    fake::AddObject({fake::Raw(CKA_CLASS, {1, 0, 0, 0}), fake::Byte(CKA_ID, 59)});   // short class: no match
    fake::AddObject({});
    const CK_SESSION_HANDLE h = Open();
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_BYTE id = 59;
    CK_ATTRIBUTE t[2] = {{CKA_CLASS, &cls, sizeof(cls)}, {CKA_ID, &id, 1}};
    CK_OBJECT_HANDLE found[4];
    CK_ULONG count = 0;
    EXPECT_EQ(m->C_FindObjects(h, found, 4, &count), CKR_OPERATION_NOT_INITIALIZED);
    ASSERT_EQ(m->C_FindObjectsInit(h, t, 2), CKR_OK);
    EXPECT_EQ(m->C_FindObjectsInit(h, t, 2), CKR_OPERATION_ACTIVE);
    ASSERT_EQ(m->C_FindObjects(h, found, 4, &count), CKR_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(found[0], one);
    EXPECT_EQ(m->C_FindObjectsFinal(h), CKR_OK);
    ASSERT_EQ(m->C_FindObjectsInit(h, nullptr, 0), CKR_OK);
    ASSERT_EQ(m->C_FindObjects(h, found, 4, &count), CKR_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(m->C_FindObjectsFinal(h), CKR_OK);
    EXPECT_EQ(m->C_FindObjectsFinal(h), CKR_OPERATION_NOT_INITIALIZED);
}

TEST_F(FakeModuleTest, ObjectsFromTemplatesGetAClass)
{
    const CK_SESSION_HANDLE h = Open();
    CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_BYTE id = 100;
    CK_ATTRIBUTE t[1] = {{CKA_ID, &id, 1}};
    CK_OBJECT_HANDLE pub = 0, priv = 0, secret = 0;
    ASSERT_EQ(m->C_GenerateKeyPair(h, &mechanism, t, 1, t, 1, &pub, &priv), CKR_OK);
    ASSERT_EQ(m->C_GenerateKey(h, &mechanism, t, 1, &secret), CKR_OK);
    EXPECT_EQ(Value(pub, CKA_CLASS), fake::Ulong(CKA_CLASS, CKO_PUBLIC_KEY).value);
    EXPECT_EQ(Value(priv, CKA_CLASS), fake::Ulong(CKA_CLASS, CKO_PRIVATE_KEY).value);
    EXPECT_EQ(Value(secret, CKA_CLASS), fake::Ulong(CKA_CLASS, CKO_SECRET_KEY).value);
    EXPECT_EQ(Value(secret, CKA_ID), Bytes{100});
    EXPECT_EQ(m->C_DestroyObject(h, pub), CKR_OK);
    EXPECT_EQ(m->C_DestroyObject(h, pub), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(fake::Objects(), (std::vector<CK_OBJECT_HANDLE>{priv, secret}));
}

TEST_F(FakeModuleTest, VendorImportsCreateObjects)
{
    const CK_SESSION_HANDLE h = Open();
    CK_KTL_FUNCTION_LIST* v = Module();
    CK_BYTE id = 59, der[3] = {0x30, 1, 0}, p12[2] = {1, 2}, password[1] = {'p'};
    ASSERT_EQ(v->C_KTL_LoadX509Cert(h, "Cert", &id, 1, der, 3), CKR_OK);
    ASSERT_EQ(v->C_KTL_LoadCert(h, p12, 2, password, 1), CKR_OK);
    const auto objects = fake::Objects();
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_EQ(Value(objects[0], CKA_CLASS), fake::Ulong(CKA_CLASS, CKO_CERTIFICATE).value);
    EXPECT_EQ(Value(objects[0], CKA_LABEL), (Bytes{'C', 'e', 'r', 't'}));
    EXPECT_EQ(Value(objects[0], CKA_ID), Bytes{59});
    EXPECT_EQ(Value(objects[0], CKA_VALUE), (Bytes{0x30, 1, 0}));
    EXPECT_EQ(Value(objects[1], CKA_CLASS), fake::Ulong(CKA_CLASS, CKO_CERTIFICATE).value);
    EXPECT_EQ(Value(objects[1], CKA_ID).size(), 20u);
    EXPECT_EQ(Value(objects[1], CKA_ID), Value(objects[2], CKA_ID));
    EXPECT_EQ(Value(objects[2], CKA_CLASS), fake::Ulong(CKA_CLASS, CKO_PRIVATE_KEY).value);
    EXPECT_EQ(fake::Calls().back().buffers[0], Bytes(p12, p12 + 2));
}

TEST_F(FakeModuleTest, FaultsFromTheNthCallOrOnlyOnce)
{
    fake::Fail("C_GetTokenInfo", CKR_DEVICE_ERROR, 2, true);
    fake::Fail("C_Logout", CKR_GENERAL_ERROR, 2);
    CK_TOKEN_INFO info;
    EXPECT_EQ(m->C_GetTokenInfo(5, &info), CKR_OK);
    EXPECT_EQ(m->C_GetTokenInfo(5, &info), CKR_DEVICE_ERROR);
    EXPECT_EQ(m->C_GetTokenInfo(5, &info), CKR_OK);
    const CK_SESSION_HANDLE h = Open();
    EXPECT_EQ(m->C_Logout(h), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(m->C_Logout(h), CKR_GENERAL_ERROR);
    EXPECT_EQ(m->C_Logout(h), CKR_GENERAL_ERROR);
    EXPECT_EQ(fake::Calls().back().rv, CKR_GENERAL_ERROR);
    EXPECT_EQ(m->C_EncryptInit(h, nullptr, 0), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(fake::CallNames().back(), "C_EncryptInit");
}

// One way to run each entry that delivers scripted output through the length protocol.
struct OutputEntry {
    const char* name;
    size_t defaultSize;
    CK_RV (*call)(CK_KTL_FUNCTION_LIST*, CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_BYTE*, CK_ULONG*);
};

CK_BYTE gData[4] = {1, 2, 3, 4};

const OutputEntry kOutputEntries[] = {
    {"C_Sign", 64,
     [](CK_KTL_FUNCTION_LIST* v, CK_SESSION_HANDLE h, CK_OBJECT_HANDLE, CK_BYTE* out, CK_ULONG* len) {
         return v->standard.C_Sign(h, gData, 4, out, len);
     }},
    {"C_KTL_CreateCSR", 100,
     [](CK_KTL_FUNCTION_LIST* v, CK_SESSION_HANDLE h, CK_OBJECT_HANDLE key, CK_BYTE* out, CK_ULONG* len) {
         CK_BYTE subject[] = "CN\0x\0";
         return v->C_KTL_CreateCSR(h, key, subject, 1, out, len, key, nullptr, 0, nullptr, 0);
     }},
    {"C_KTL_SignWithCert", 128,
     [](CK_KTL_FUNCTION_LIST* v, CK_SESSION_HANDLE h, CK_OBJECT_HANDLE key, CK_BYTE* out, CK_ULONG* len) {
         return v->C_KTL_SignWithCert(h, gData, 4, key, out, len, 0, 0, 0, 0);
     }},
};

class OutputProtocol : public FakeModuleTest, public ::testing::WithParamInterface<OutputEntry> {
protected:
    void SetUp() override
    {
        FakeModuleTest::SetUp();
        session = Open();
        key = fake::AddObject({fake::Ulong(CKA_CLASS, CKO_PRIVATE_KEY)});
        CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
        ASSERT_EQ(m->C_SignInit(session, &mechanism, key), CKR_OK);
    }
    CK_RV Run(CK_BYTE* out, CK_ULONG* len) { return GetParam().call(Module(), session, key, out, len); }

    CK_SESSION_HANDLE session = 0;
    CK_OBJECT_HANDLE key = 0;
};

TEST_P(OutputProtocol, SizeQueryThenDelivery)
{
    CK_ULONG len = 0;
    ASSERT_EQ(Run(nullptr, &len), CKR_OK);
    EXPECT_EQ(len, GetParam().defaultSize);
    EXPECT_TRUE(fake::Calls().back().outputNull);
    Bytes out(len + 4, 0xEE);
    ASSERT_EQ(Run(out.data(), &len), CKR_OK);   // a size query keeps a signature going
    EXPECT_EQ(len, GetParam().defaultSize);
    EXPECT_EQ(out[len], 0xEE);
}

TEST_P(OutputProtocol, TooSmallBufferIsRefusedUntouched)
{
    fake::SetOutput(GetParam().name, Bytes(10, 0x11));
    Bytes out(12, 0xEE);
    CK_ULONG len = 9;
    ASSERT_EQ(Run(out.data(), &len), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 10u);
    EXPECT_EQ(out, Bytes(12, 0xEE));
    ASSERT_EQ(Run(out.data(), &len), CKR_OK);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 10), Bytes(10, 0x11));
}

TEST_P(OutputProtocol, ReportedLengthNeverWritesPastTheBuffer)
{
    fake::SetOutput(GetParam().name, Bytes(10, 0x11));
    const struct {
        CK_ULONG reported;
        CK_ULONG given;
        CK_ULONG written;
    } cases[] = {{1000, 1000, 10}, {1000, 4, 4}, {0, 0, 0}, {0, 8, 0}, {6, 8, 6}};
    for (const auto& c : cases) {
        fake::SetReportedLength(GetParam().name, c.reported);
        CK_ULONG len = 0;
        ASSERT_EQ(Run(nullptr, &len), CKR_OK);
        EXPECT_EQ(len, c.reported);
        Bytes out(c.given + 1, 0xEE);
        len = c.given;
        ASSERT_EQ(Run(out.data(), &len), CKR_OK);
        EXPECT_EQ(len, c.written);
        EXPECT_EQ(out[c.written], 0xEE) << "reported " << c.reported << " given " << c.given;
        if (GetParam().name == std::string("C_Sign")) {
            CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
            ASSERT_EQ(m->C_SignInit(session, &mechanism, key), CKR_OK);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Entries, OutputProtocol, ::testing::ValuesIn(kOutputEntries),
                         [](const auto& info) { return std::string(info.param.name); });

// No mechanism scripted: the token tells none. Then the list follows the two-call protocol
// and the information is that of the listed mechanism only.
TEST_F(FakeModuleTest, MechanismListAndInformation)
{
    CK_ULONG count = 0;
    CK_MECHANISM_INFO info = {};
    EXPECT_EQ(m->C_GetMechanismList(5, nullptr, &count), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(m->C_GetMechanismInfo(5, CKM_RSA_PKCS, &info), CKR_FUNCTION_NOT_SUPPORTED);
    fake::AddMechanism({CKM_RSA_PKCS, 512, 4096, CKF_SIGN});
    fake::AddMechanism({CKM_GOSTR3410, 512, 512, CKF_VERIFY});
    ASSERT_EQ(m->C_GetMechanismList(5, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 2u);
    CK_MECHANISM_TYPE types[3] = {77, 77, 77};
    count = 1;
    EXPECT_EQ(m->C_GetMechanismList(5, types, &count), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(types[0], 77u);
    count = 3;
    ASSERT_EQ(m->C_GetMechanismList(5, types, &count), CKR_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(types[1], CKM_GOSTR3410);
    EXPECT_EQ(types[2], 77u);
    ASSERT_EQ(m->C_GetMechanismInfo(5, CKM_RSA_PKCS, &info), CKR_OK);
    EXPECT_EQ(info.ulMaxKeySize, 4096u);
    EXPECT_EQ(info.flags, CKF_SIGN);
    EXPECT_EQ(m->C_GetMechanismInfo(5, CKM_RSA_X_509, &info), CKR_MECHANISM_INVALID);
    EXPECT_EQ(m->C_GetMechanismList(6, nullptr, &count), CKR_SLOT_ID_INVALID);
}

TEST_F(FakeModuleTest, SlotListCountChecksTheCallersRoom)
{
    fake::AddSlot(9, "Second");
    fake::SetReportedLength("C_GetSlotList", 1);
    CK_ULONG count = 0;
    ASSERT_EQ(m->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 1u);
    CK_SLOT_ID slots[3] = {77, 77, 77};
    EXPECT_EQ(m->C_GetSlotList(CK_TRUE, slots, &count), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(slots[0], 77u);
    count = 3;
    ASSERT_EQ(m->C_GetSlotList(CK_TRUE, slots, &count), CKR_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(slots[1], 9u);
    EXPECT_EQ(slots[2], 77u);
}

}  // namespace
