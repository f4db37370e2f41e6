// Keys the module loads once and keeps on their objects: each object signs with its own key,
// across logins and while other keys come and go; stored values that form no key are refused
// when the operation starts, with a code C_SignInit and C_VerifyInit may answer.
#include "SoftTokenFixture.h"

namespace softtoken_test {
namespace {

const CK_MECHANISM kGostSign = {CKM_GOSTR3410, nullptr, 0};

class KeyObjectTest : public SoftTokenTest {
protected:
    struct KeyPair {
        CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    };

    KeyPair GenerateGost(CK_SESSION_HANDLE session) {
        CK_MECHANISM mechanism = {CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
        CK_ATTRIBUTE publicTemplate[] = {{CKA_TOKEN, &Value::True, 1}, {CKA_VERIFY, &Value::True, 1}};
        CK_ATTRIBUTE privateTemplate[] = {{CKA_TOKEN, &Value::True, 1}, {CKA_SIGN, &Value::True, 1}};
        KeyPair pair;
        EXPECT_RV(CKR_OK, f->C_GenerateKeyPair(session, &mechanism, publicTemplate, 2, privateTemplate, 2,
                                               &pair.publicKey, &pair.privateKey));
        return pair;
    }

    CK_RV Create(CK_SESSION_HANDLE session, CK_OBJECT_CLASS objectClass, CK_KEY_TYPE keyType,
                 std::vector<std::pair<CK_ATTRIBUTE_TYPE, Bytes>> values, CK_OBJECT_HANDLE& object) {
        std::vector<CK_ATTRIBUTE> attributes = {{CKA_CLASS, &objectClass, sizeof objectClass},
                                                {CKA_KEY_TYPE, &keyType, sizeof keyType}};
        for (auto& [type, value] : values) attributes.push_back({type, value.data(), value.size()});
        return f->C_CreateObject(session, attributes.data(), attributes.size(), &object);
    }
};

TEST_F(KeyObjectTest, EachObjectSignsWithItsOwnKeyAcrossLoginsAndDestruction) {
    CK_SESSION_HANDLE session = LoginUser();
    const KeyPair a = GenerateGost(session), b = GenerateGost(session);
    const Bytes hash(32, 0x4D);
    auto signsAs = [&](const KeyPair& signer, const KeyPair& other) {
        Bytes signature;
        ASSERT_RV(CKR_OK, Sign(session, kGostSign, signer.privateKey, hash, signature));
        EXPECT_RV(CKR_OK, Verify(session, kGostSign, signer.publicKey, hash, signature));
        EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, kGostSign, other.publicKey, hash, signature));
    };
    signsAs(a, b);
    signsAs(b, a);
    signsAs(a, b);
    // A logout closes the private objects' values; the next login loads them again.
    ASSERT_RV(CKR_OK, f->C_Logout(session));
    ASSERT_RV(CKR_OK, Login(session, CKU_USER, kDefaultPin));
    signsAs(b, a);
    signsAs(a, b);
    ASSERT_RV(CKR_OK, f->C_DestroyObject(session, b.privateKey));
    signsAs(a, b);
    EXPECT_RV(CKR_KEY_HANDLE_INVALID, f->C_SignInit(session, const_cast<CK_MECHANISM*>(&kGostSign), b.privateKey));
}

struct BrokenKey {
    const char* what;
    CK_OBJECT_CLASS objectClass;
    CK_KEY_TYPE keyType;
    CK_MECHANISM_TYPE mechanism;
    std::vector<std::pair<CK_ATTRIBUTE_TYPE, Bytes>> values;
};

TEST_F(KeyObjectTest, StoredValuesThatFormNoKeyAreRefusedAtInit) {
    const Bytes cryptoProA = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};
    const BrokenKey keys[] = {
        {"GOST private value above the group order", CKO_PRIVATE_KEY, CKK_GOSTR3410, CKM_GOSTR3410,
         {{CKA_VALUE, Bytes(32, 0xFF)}, {CKA_GOSTR3410_PARAMS, cryptoProA}}},
        {"GOST public point off the curve", CKO_PUBLIC_KEY, CKK_GOSTR3410, CKM_GOSTR3410,
         {{CKA_VALUE, Bytes(64, 0x01)}, {CKA_GOSTR3410_PARAMS, cryptoProA}}},
        // C_CreateObject refuses what is cheap to see; a missing public exponent shows at Init.
        {"RSA private key without its public exponent", CKO_PRIVATE_KEY, CKK_RSA, CKM_SHA256_RSA_PKCS,
         {{CKA_MODULUS, Bytes(128, 0xC5)}, {CKA_PRIVATE_EXPONENT, {5}}}},
    };
    CK_SESSION_HANDLE session = LoginUser();
    for (const BrokenKey& key : keys) {
        SCOPED_TRACE(key.what);
        CK_OBJECT_HANDLE object = 0;
        ASSERT_RV(CKR_OK, Create(session, key.objectClass, key.keyType, key.values, object));
        CK_MECHANISM mechanism = {key.mechanism, nullptr, 0};
        const bool verify = key.objectClass == CKO_PUBLIC_KEY;
        EXPECT_RV(CKR_KEY_TYPE_INCONSISTENT,
                  verify ? f->C_VerifyInit(session, &mechanism, object) : f->C_SignInit(session, &mechanism, object));
        Bytes data(32, 1), signature(256);
        CK_ULONG length = signature.size();
        EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED,
                  verify ? f->C_Verify(session, data.data(), data.size(), signature.data(), 64)
                         : f->C_Sign(session, data.data(), data.size(), signature.data(), &length));
    }
}

}  // namespace
}  // namespace softtoken_test
