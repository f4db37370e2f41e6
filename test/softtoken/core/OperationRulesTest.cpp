// Rules every operation follows, whatever its mechanism: a call that fails with bad arguments
// ends the operation, and an operation begun in one piece (a one-piece call that asked for
// its output's length) cannot be taken on by multi-part calls.
#include "SoftTokenFixture.h"

namespace softtoken_test {
namespace {

class OperationRulesTest : public SoftTokenTest {
protected:
    CK_OBJECT_HANDLE AesKey(CK_SESSION_HANDLE session) {
        CK_ULONG length = 16;
        CK_ATTRIBUTE attributes[] = {{CKA_VALUE_LEN, &length, sizeof length},
                                     {CKA_ENCRYPT, &Value::True, 1},
                                     {CKA_DECRYPT, &Value::True, 1}};
        CK_MECHANISM generate = {CKM_AES_KEY_GEN, nullptr, 0};
        CK_OBJECT_HANDLE key = 0;
        EXPECT_RV(CKR_OK, f->C_GenerateKey(session, &generate, attributes, 3, &key));
        return key;
    }
    CK_OBJECT_HANDLE HmacKey(CK_SESSION_HANDLE session) {
        Bytes value(32, 0x0B);
        CK_OBJECT_CLASS keyClass = CKO_SECRET_KEY;
        CK_KEY_TYPE keyType = CKK_GENERIC_SECRET;
        CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                                     {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                     {CKA_VALUE, value.data(), value.size()}};
        CK_OBJECT_HANDLE key = 0;
        EXPECT_RV(CKR_OK, f->C_CreateObject(session, attributes, 3, &key));
        return key;
    }
};

// One operation kind: how to start it, a one-piece call, a multi-part call and a final call,
// each with the caller's buffer and length pointer given.
struct Kind {
    const char* name;
    CK_MECHANISM_TYPE mechanism;
    bool hmacKey;
    CK_RV (*init)(CK_FUNCTION_LIST*, CK_SESSION_HANDLE, CK_MECHANISM*, CK_OBJECT_HANDLE);
    CK_RV (*oneShot)(CK_FUNCTION_LIST*, CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG*);
    CK_RV (*update)(CK_FUNCTION_LIST*, CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG*);
    CK_RV (*final)(CK_FUNCTION_LIST*, CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG*);
};

CK_BYTE gData[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

const Kind kKinds[] = {
    {"encrypt", CKM_AES_ECB, false,
     [](CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s, CK_MECHANISM* m, CK_OBJECT_HANDLE k) { return f->C_EncryptInit(s, m, k); },
     [](CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s, CK_BYTE* o, CK_ULONG* l) { return f->C_Encrypt(s, gData, 16, o, l); },
     [](CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s, CK_BYTE* o, CK_ULONG* l) { return f->C_EncryptUpdate(s, gData, 16, o, l); },
     [](CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s, CK_BYTE* o, CK_ULONG* l) { return f->C_EncryptFinal(s, o, l); }},
    {"decrypt", CKM_AES_ECB, false,
     [](CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s, CK_MECHANISM* m, CK_OBJECT_HANDLE k) { return f->C_DecryptInit(s, m, k); },
     [](CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s, CK_BYTE* o, CK_ULONG* l) { return f->C_Decrypt(s, gData, 16, o, l); },
     [](CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s, CK_BYTE* o, CK_ULONG* l) { return f->C_DecryptUpdate(s, gData, 16, o, l); },
     [](CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s, CK_BYTE* o, CK_ULONG* l) { return f->C_DecryptFinal(s, o, l); }},
    {"digest", CKM_SHA256, false,
     [](CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s, CK_MECHANISM* m, CK_OBJECT_HANDLE) { return f->C_DigestInit(s, m); },
     [](CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s, CK_BYTE* o, CK_ULONG* l) { return f->C_Digest(s, gData, 16, o, l); },
     [](CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s, CK_BYTE*, CK_ULONG* l) {
         return l == nullptr ? f->C_DigestUpdate(s, nullptr, 16) : f->C_DigestUpdate(s, gData, 16);
     },
     [](CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s, CK_BYTE* o, CK_ULONG* l) { return f->C_DigestFinal(s, o, l); }},
    {"sign", CKM_SHA256_HMAC, true,
     [](CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s, CK_MECHANISM* m, CK_OBJECT_HANDLE k) { return f->C_SignInit(s, m, k); },
     [](CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s, CK_BYTE* o, CK_ULONG* l) { return f->C_Sign(s, gData, 16, o, l); },
     [](CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s, CK_BYTE*, CK_ULONG* l) {
         return l == nullptr ? f->C_SignUpdate(s, nullptr, 16) : f->C_SignUpdate(s, gData, 16);
     },
     [](CK_FUNCTION_LIST* f, CK_SESSION_HANDLE s, CK_BYTE* o, CK_ULONG* l) { return f->C_SignFinal(s, o, l); }},
};

TEST_F(OperationRulesTest, BadArgumentsEndTheOperation) {
    const CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE aes = AesKey(session), hmac = HmacKey(session);
    using Call = CK_RV (*)(CK_FUNCTION_LIST*, CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG*);
    for (const Kind& kind : kKinds) {
        CK_MECHANISM mechanism = {kind.mechanism, nullptr, 0};
        for (Call call : {kind.oneShot, kind.update, kind.final}) {
            SCOPED_TRACE(kind.name);
            CK_BYTE out[64];
            ASSERT_RV(CKR_OK, kind.init(f, session, &mechanism, kind.hmacKey ? hmac : aes));
            EXPECT_RV(CKR_ARGUMENTS_BAD, call(f, session, out, nullptr));
            // Ended: a new operation may start, and the old one is gone.
            CK_ULONG length = sizeof out;
            EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, kind.final(f, session, out, &length));
            ASSERT_RV(CKR_OK, kind.init(f, session, &mechanism, kind.hmacKey ? hmac : aes));
            length = sizeof out;
            EXPECT_RV(CKR_OK, kind.oneShot(f, session, out, &length));
        }
    }
}

TEST_F(OperationRulesTest, AnOperationBegunInOnePieceRefusesMultiPartCalls) {
    const CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE aes = AesKey(session), hmac = HmacKey(session);
    using Call = CK_RV (*)(CK_FUNCTION_LIST*, CK_SESSION_HANDLE, CK_BYTE*, CK_ULONG*);
    for (const Kind& kind : kKinds) {
        CK_MECHANISM mechanism = {kind.mechanism, nullptr, 0};
        for (Call call : {kind.update, kind.final}) {
            SCOPED_TRACE(kind.name);
            CK_BYTE out[64];
            CK_ULONG length = 0;
            ASSERT_RV(CKR_OK, kind.init(f, session, &mechanism, kind.hmacKey ? hmac : aes));
            ASSERT_RV(CKR_OK, kind.oneShot(f, session, nullptr, &length));  // asks for the length
            length = sizeof out;
            EXPECT_RV(CKR_OPERATION_ACTIVE, call(f, session, out, &length));
            EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, kind.oneShot(f, session, out, &length));
        }
        // The length query, then the one-piece call itself, is the normal way.
        CK_BYTE out[64];
        CK_ULONG length = 0;
        ASSERT_RV(CKR_OK, kind.init(f, session, &mechanism, kind.hmacKey ? hmac : aes));
        ASSERT_RV(CKR_OK, kind.oneShot(f, session, nullptr, &length));
        EXPECT_RV(CKR_OK, kind.oneShot(f, session, out, &length));
    }
}

}  // namespace
}  // namespace softtoken_test
