// Private keys with CKA_ALWAYS_AUTHENTICATE: each operation initialised with such a key waits
// for C_Login(CKU_CONTEXT_SPECIFIC) with the user PIN, and one login serves one operation.
#include "SoftTokenFixture.h"

#include <ostream>
#include <string>

namespace softtoken_test {
namespace {

const Bytes kWrongPin = {'0', '0', '0', '0', '0', '0'};

enum class Use { Sign, Decrypt };
// What a step does on the operation of the case's use: C_SignInit or C_DecryptInit, the
// context-specific login, the one-piece call (with a buffer, or asking for the length only),
// one part, the end of a multi-part operation, C_Logout.
enum class Act { Init, ContextLogin, WrongContextLogin, OneShot, LengthQuery, Update, Final, Logout };

struct Step {
    Act act;
    CK_RV expected;
    int session = 0;  // 0 or 1: two sessions of the same login
};

struct Case {
    const char* name;
    std::vector<Step> steps;
    bool inPieces = false;   // C_SignUpdate and C_SignFinal: RSA decryption has no such form
    bool keyAsks = true;      // the key has CKA_ALWAYS_AUTHENTICATE
};

const Case kCases[] = {
    {"UseWithoutTheLoginWaitsForIt",
     {{Act::Init, CKR_OK}, {Act::OneShot, CKR_USER_NOT_LOGGED_IN}, {Act::LengthQuery, CKR_USER_NOT_LOGGED_IN},
      {Act::ContextLogin, CKR_OK}, {Act::OneShot, CKR_OK}}},
    {"OneLoginServesOneOperation",
     {{Act::Init, CKR_OK}, {Act::ContextLogin, CKR_OK}, {Act::OneShot, CKR_OK},
      {Act::OneShot, CKR_OPERATION_NOT_INITIALIZED}, {Act::Init, CKR_OK}, {Act::OneShot, CKR_USER_NOT_LOGGED_IN},
      {Act::ContextLogin, CKR_OK}, {Act::OneShot, CKR_OK}}},
    {"LengthQueryKeepsTheLogin",
     {{Act::Init, CKR_OK}, {Act::ContextLogin, CKR_OK}, {Act::LengthQuery, CKR_OK}, {Act::OneShot, CKR_OK}}},
    {"WrongPinIsRefusedAndTheOperationWaits",
     {{Act::Init, CKR_OK}, {Act::WrongContextLogin, CKR_PIN_INCORRECT}, {Act::OneShot, CKR_USER_NOT_LOGGED_IN},
      {Act::ContextLogin, CKR_OK}, {Act::OneShot, CKR_OK}}},
    {"NoOperationToLogInFor",
     {{Act::ContextLogin, CKR_OPERATION_NOT_INITIALIZED}, {Act::WrongContextLogin, CKR_OPERATION_NOT_INITIALIZED}}},
    {"SecondLoginHasNothingLeftToDo",
     {{Act::Init, CKR_OK}, {Act::ContextLogin, CKR_OK}, {Act::ContextLogin, CKR_OPERATION_NOT_INITIALIZED},
      {Act::OneShot, CKR_OK}}},
    {"EachSessionLogsInForItsOwnOperation",
     {{Act::Init, CKR_OK, 0}, {Act::Init, CKR_OK, 1}, {Act::ContextLogin, CKR_OK, 0},
      {Act::OneShot, CKR_USER_NOT_LOGGED_IN, 1}, {Act::OneShot, CKR_OK, 0}, {Act::ContextLogin, CKR_OK, 1},
      {Act::OneShot, CKR_OK, 1}}},
    {"LogoutEndsTheWaitingOperation",
     {{Act::Init, CKR_OK}, {Act::Logout, CKR_OK}, {Act::ContextLogin, CKR_OPERATION_NOT_INITIALIZED},
      {Act::OneShot, CKR_OPERATION_NOT_INITIALIZED}}},
    {"EachUpdateAndTheFinalWait",
     {{Act::Init, CKR_OK}, {Act::Update, CKR_USER_NOT_LOGGED_IN}, {Act::Final, CKR_USER_NOT_LOGGED_IN},
      {Act::ContextLogin, CKR_OK}, {Act::Update, CKR_OK}, {Act::Update, CKR_OK}, {Act::Final, CKR_OK},
      {Act::Final, CKR_OPERATION_NOT_INITIALIZED}},
     true},
    {"UpdatesOfTheNextOperationNeedANewLogin",
     {{Act::Init, CKR_OK}, {Act::ContextLogin, CKR_OK}, {Act::Update, CKR_OK}, {Act::Final, CKR_OK},
      {Act::Init, CKR_OK}, {Act::Update, CKR_USER_NOT_LOGGED_IN}},
     true},
    {"KeyWithoutTheAttributeNeedsNoLogin",
     {{Act::Init, CKR_OK}, {Act::ContextLogin, CKR_OPERATION_NOT_INITIALIZED}, {Act::OneShot, CKR_OK}},
     false, false},
};

void PrintTo(const Case& testCase, std::ostream* out) { *out << testCase.name; }
void PrintTo(Use use, std::ostream* out) { *out << (use == Use::Sign ? "sign" : "decrypt"); }

struct KeyPair {
    CK_OBJECT_HANDLE publicKey = 0;
    CK_OBJECT_HANDLE privateKey = 0;
};

class AlwaysAuthenticateTest : public SoftTokenTest {
protected:
    KeyPair Generate(CK_SESSION_HANDLE session, bool asks, bool isPrivate = true) {
        CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
        CK_ULONG bits = 1024;
        CK_BYTE exponent[] = {0x01, 0x00, 0x01};
        CK_BBOOL asksValue = asks ? CK_TRUE : CK_FALSE;
        CK_BBOOL privateValue = isPrivate ? CK_TRUE : CK_FALSE;
        CK_ATTRIBUTE publicTemplate[] = {{CKA_ENCRYPT, &Value::True, 1},
                                         {CKA_VERIFY, &Value::True, 1},
                                         {CKA_MODULUS_BITS, &bits, sizeof bits},
                                         {CKA_PUBLIC_EXPONENT, exponent, 3}};
        CK_ATTRIBUTE privateTemplate[] = {{CKA_TOKEN, &Value::True, 1},
                                          {CKA_PRIVATE, &privateValue, 1},
                                          {CKA_DECRYPT, &Value::True, 1},
                                          {CKA_SIGN, &Value::True, 1},
                                          {CKA_ALWAYS_AUTHENTICATE, &asksValue, 1}};
        KeyPair pair;
        EXPECT_RV(CKR_OK, f->C_GenerateKeyPair(session, &mechanism, publicTemplate, 4, privateTemplate, 5,
                                               &pair.publicKey, &pair.privateKey));
        return pair;
    }

    bool HasRsaDecryption() {
        CK_MECHANISM_INFO info{};
        return f->C_GetMechanismInfo(0, CKM_RSA_PKCS, &info) == CKR_OK && (info.flags & CKF_DECRYPT) != 0;
    }

    Bytes Encrypt(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE publicKey, const Bytes& plain) {
        CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
        EXPECT_RV(CKR_OK, f->C_EncryptInit(session, &mechanism, publicKey));
        Bytes in = plain, out(512);
        CK_ULONG length = out.size();
        EXPECT_RV(CKR_OK, f->C_Encrypt(session, in.data(), in.size(), out.data(), &length));
        out.resize(length);
        return out;
    }
};

class AlwaysAuthenticateCases : public AlwaysAuthenticateTest,
                                public ::testing::WithParamInterface<std::tuple<Use, Case>> {};

// Runs the steps on two sessions of one user login; every output the token gives is then
// checked: signatures verify with the public key, decryptions give the plain text back.
TEST_P(AlwaysAuthenticateCases, Steps) {
    const auto& [use, testCase] = GetParam();
    if (use == Use::Decrypt && testCase.inPieces) GTEST_SKIP() << "RSA decryption comes in one piece";
    if (use == Use::Decrypt && !HasRsaDecryption()) GTEST_SKIP() << "no RSA decryption";
    const CK_SESSION_HANDLE sessions[2] = {LoginUser(), Open()};
    const KeyPair pair = Generate(sessions[0], testCase.keyAsks);
    const Bytes plain = {'o', 'n', 'e', ' ', 'u', 's', 'e'};
    const Bytes input = use == Use::Sign ? plain : Encrypt(sessions[0], pair.publicKey, plain);
    CK_MECHANISM mechanism = {use == Use::Sign ? CKM_SHA256_RSA_PKCS : CKM_RSA_PKCS, nullptr, 0};
    Bytes message[2];  // what each session's signing operation has been given
    const bool sign = use == Use::Sign;
    for (size_t i = 0; i < testCase.steps.size(); ++i) {
        const Step& step = testCase.steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        const CK_SESSION_HANDLE session = sessions[step.session];
        Bytes in = input, out(512), pin = step.act == Act::WrongContextLogin ? kWrongPin : kDefaultPin;
        CK_ULONG length = out.size();
        CK_RV rv = CKR_OK;
        bool gaveOutput = false;
        switch (step.act) {
        case Act::Init:
            rv = sign ? f->C_SignInit(session, &mechanism, pair.privateKey)
                      : f->C_DecryptInit(session, &mechanism, pair.privateKey);
            message[step.session].clear();
            break;
        case Act::ContextLogin:
        case Act::WrongContextLogin:
            rv = Login(session, CKU_CONTEXT_SPECIFIC, pin);
            break;
        case Act::OneShot:
            rv = sign ? f->C_Sign(session, in.data(), in.size(), out.data(), &length)
                      : f->C_Decrypt(session, in.data(), in.size(), out.data(), &length);
            message[step.session] = in;
            gaveOutput = true;
            break;
        case Act::LengthQuery:
            rv = sign ? f->C_Sign(session, in.data(), in.size(), nullptr, &length)
                      : f->C_Decrypt(session, in.data(), in.size(), nullptr, &length);
            break;
        case Act::Update:
            rv = f->C_SignUpdate(session, in.data(), in.size());
            if (rv == CKR_OK) message[step.session].insert(message[step.session].end(), in.begin(), in.end());
            break;
        case Act::Final:
            rv = f->C_SignFinal(session, out.data(), &length);
            gaveOutput = true;
            break;
        case Act::Logout:
            rv = f->C_Logout(session);
            break;
        }
        ASSERT_RV(step.expected, rv);
        if (!gaveOutput || rv != CKR_OK) continue;
        out.resize(length);
        if (sign) EXPECT_RV(CKR_OK, Verify(session, mechanism, pair.publicKey, message[step.session], out));
        else EXPECT_EQ(plain, out);
    }
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<Use, Case>>& info) {
    return std::string(std::get<0>(info.param) == Use::Sign ? "Sign_" : "Decrypt_") + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Operations, AlwaysAuthenticateCases,
                         ::testing::Combine(::testing::Values(Use::Sign, Use::Decrypt), ::testing::ValuesIn(kCases)),
                         CaseName);

// Wrong context-specific PINs are counted with the user's other tries; the right one resets
// the count.
TEST_F(AlwaysAuthenticateTest, WrongPinsCountTowardsTheUserPinLock) {
    const CK_SESSION_HANDLE session = LoginUser();
    const KeyPair pair = Generate(session, true);
    CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    ASSERT_RV(CKR_OK, f->C_SignInit(session, &mechanism, pair.privateKey));
    CK_TOKEN_INFO info{};
    ASSERT_RV(CKR_PIN_INCORRECT, Login(session, CKU_CONTEXT_SPECIFIC, kWrongPin));
    ASSERT_RV(CKR_OK, f->C_GetTokenInfo(0, &info));
    EXPECT_TRUE(info.flags & CKF_USER_PIN_COUNT_LOW);
    ASSERT_RV(CKR_OK, Login(session, CKU_CONTEXT_SPECIFIC, kDefaultPin));
    ASSERT_RV(CKR_OK, f->C_GetTokenInfo(0, &info));
    EXPECT_FALSE(info.flags & CKF_USER_PIN_COUNT_LOW);
    Bytes data = {'x'}, signature(256);
    CK_ULONG length = signature.size();
    ASSERT_RV(CKR_OK, f->C_Sign(session, data.data(), data.size(), signature.data(), &length));

    ASSERT_RV(CKR_OK, f->C_SignInit(session, &mechanism, pair.privateKey));
    for (int i = 0; i < 10; ++i) ASSERT_RV(CKR_PIN_INCORRECT, Login(session, CKU_CONTEXT_SPECIFIC, kWrongPin));
    EXPECT_RV(CKR_PIN_LOCKED, Login(session, CKU_CONTEXT_SPECIFIC, kDefaultPin));
    ASSERT_RV(CKR_OK, f->C_Logout(session));
    EXPECT_RV(CKR_PIN_LOCKED, Login(session, CKU_USER, kDefaultPin));
}

// A private key that is not a private object is visible to the security officer too; its
// context login still needs the user.
TEST_F(AlwaysAuthenticateTest, ContextLoginNeedsTheUserNotTheSecurityOfficer) {
    const CK_SESSION_HANDLE session = LoginUser();
    const KeyPair pair = Generate(session, true, false);
    ASSERT_RV(CKR_OK, f->C_Logout(session));
    ASSERT_RV(CKR_OK, Login(session, CKU_SO, kDefaultPin));
    CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    ASSERT_RV(CKR_OK, f->C_SignInit(session, &mechanism, pair.privateKey));
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, Login(session, CKU_CONTEXT_SPECIFIC, kDefaultPin));
    Bytes data = {'x'}, signature(256);
    CK_ULONG length = signature.size();
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, f->C_Sign(session, data.data(), data.size(), signature.data(), &length));
}

// The attribute belongs to private keys only, and reads back as it was set.
TEST_F(AlwaysAuthenticateTest, OnlyPrivateKeysTakeTheAttribute) {
    const CK_SESSION_HANDLE session = LoginUser();
    const KeyPair pair = Generate(session, true);
    EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, pair.privateKey, CKA_ALWAYS_AUTHENTICATE));

    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY, dataClass = CKO_DATA;
    CK_KEY_TYPE gost = CKK_GOST28147;
    Bytes value(32, 0x5A);
    CK_ATTRIBUTE secret[] = {{CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &gost, sizeof gost},
                             {CKA_VALUE, value.data(), value.size()}, {CKA_ALWAYS_AUTHENTICATE, &Value::True, 1}};
    CK_ATTRIBUTE data[] = {{CKA_CLASS, &dataClass, sizeof dataClass}, {CKA_ALWAYS_AUTHENTICATE, &Value::True, 1}};
    CK_OBJECT_HANDLE object = 0;
    EXPECT_RV(CKR_ATTRIBUTE_TYPE_INVALID, f->C_CreateObject(session, secret, 4, &object));
    EXPECT_RV(CKR_ATTRIBUTE_TYPE_INVALID, f->C_CreateObject(session, data, 2, &object));

    CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    CK_ULONG bits = 1024;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_MODULUS_BITS, &bits, sizeof bits}, {CKA_ALWAYS_AUTHENTICATE, &Value::True, 1}};
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    EXPECT_RV(CKR_ATTRIBUTE_TYPE_INVALID,
              f->C_GenerateKeyPair(session, &mechanism, publicTemplate, 2, nullptr, 0, &publicKey, &privateKey));
    // Read-only once made: it cannot be switched off.
    CK_ATTRIBUTE off = {CKA_ALWAYS_AUTHENTICATE, &Value::False, 1};
    EXPECT_RV(CKR_ATTRIBUTE_READ_ONLY, f->C_SetAttributeValue(session, pair.privateKey, &off, 1));
}

}  // namespace
}  // namespace softtoken_test
