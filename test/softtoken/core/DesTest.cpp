// Single and triple DES through the function list: FIPS 81 and SP 800-67 known answers in
// ECB and CBC (with and without padding), SP 800-38B triple DES CMAC, in one piece and in
// parts; generated keys with odd parity; wrapping an AES key; the key and length rules.
#include "CipherTestSupport.h"

namespace softtoken_test {
namespace {

const char* const kDesKey = "0123456789abcdef";
const char* const kDes3Key = "0123456789abcdef23456789abcdef01456789abcdef0123";
const char* const kIv = "1234567890abcdef";
const char* const kNowIsTheTime = "4e6f77206973207468652074696d6520666f7220616c6c20";  // "Now is the time for all "
const char* const kQuickFox = "54686520717566636b2062726f776e20666f78206a756d70";  // "The qufck brown fox jump"

struct Known {
    const char* name;
    CK_MECHANISM_TYPE type;
    CK_KEY_TYPE keyType;
    const char* key;
    bool withIv;
    const char* plain;
    const char* encrypted;
};

const Known kKnown[] = {
    {"DES-ECB, FIPS 81", CKM_DES_ECB, CKK_DES, kDesKey, false, kNowIsTheTime,
     "3fa40e8a984d48156a271787ab8883f9893d51ec4b563b53"},
    {"DES-CBC, FIPS 81", CKM_DES_CBC, CKK_DES, kDesKey, true, kNowIsTheTime,
     "e5c7cdde872bf27c43e934008c389c0f683788499a7c05f6"},
    {"DES-CBC-PAD, 21 bytes", CKM_DES_CBC_PAD, CKK_DES, kDesKey, true, "4e6f77206973207468652074696d6520666f722061",
     "e5c7cdde872bf27c43e934008c389c0fc17cbb9b802426f5"},
    {"DES3-ECB, SP 800-67", CKM_DES3_ECB, CKK_DES3, kDes3Key, false, kQuickFox,
     "a826fd8ce53b855fcce21c8112256fe668d5c05dd9b6b900"},
    {"DES3-CBC", CKM_DES3_CBC, CKK_DES3, kDes3Key, true, kQuickFox, "38413d4ba2325cf1141f707471ac2ced57db530f0123b5ac"},
    {"DES3-CBC-PAD, 19 bytes", CKM_DES3_CBC_PAD, CKK_DES3, kDes3Key, true, "54686520717566636b2062726f776e20666f78",
     "38413d4ba2325cf1141f707471ac2cedb8731e692bca0237"},
};

class DesTest : public CipherTest {
protected:
    CK_MECHANISM Mechanism(CK_MECHANISM_TYPE type, bool withIv) {
        return withIv ? CK_MECHANISM{type, m_iv.data(), m_iv.size()} : CK_MECHANISM{type, nullptr, 0};
    }
    Bytes m_iv = Hex(kIv);
};

TEST_F(DesTest, KnownAnswersInOnePieceAndInParts) {
    CK_SESSION_HANDLE session = LoginUser();
    for (const Known& known : kKnown) {
        SCOPED_TRACE(known.name);
        const CK_OBJECT_HANDLE key = SecretKey(session, known.keyType, Hex(known.key));
        const CK_MECHANISM mechanism = Mechanism(known.type, known.withIv);
        const Bytes plain = Hex(known.plain), encrypted = Hex(known.encrypted);
        Bytes out;
        ASSERT_RV(CKR_OK, OneShot(false, session, mechanism, key, plain, out));
        EXPECT_EQ(encrypted, out);
        ASSERT_RV(CKR_OK, OneShot(true, session, mechanism, key, encrypted, out));
        EXPECT_EQ(plain, out);
        ASSERT_RV(CKR_OK, Parts(false, session, mechanism, key, plain, {3, 9, 0}, out));
        EXPECT_EQ(encrypted, out);
        ASSERT_RV(CKR_OK, Parts(true, session, mechanism, key, encrypted, {1, 15}, out));
        EXPECT_EQ(plain, out);
    }
}

TEST_F(DesTest, LengthsPaddingAndParameters) {
    CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE des = SecretKey(session, CKK_DES, Hex(kDesKey));
    const CK_OBJECT_HANDLE des3 = SecretKey(session, CKK_DES3, Hex(kDes3Key));
    Bytes badPadding;
    ASSERT_RV(CKR_OK, OneShot(false, session, Mechanism(CKM_DES3_CBC, true), des3, Bytes(8, 0x09), badPadding));
    Bytes iv16(16);
    const struct {
        const char* name;
        CK_MECHANISM mechanism;
        CK_OBJECT_HANDLE key;
        bool decrypt;
        Bytes input;
        CK_RV expected;
    } cases[] = {
        {"DES-ECB, 12 bytes", Mechanism(CKM_DES_ECB, false), des, false, Bytes(12), CKR_DATA_LEN_RANGE},
        {"DES3-CBC decrypt, 9 bytes", Mechanism(CKM_DES3_CBC, true), des3, true, Bytes(9), CKR_ENCRYPTED_DATA_LEN_RANGE},
        {"DES3-CBC-PAD decrypt, 7 bytes", Mechanism(CKM_DES3_CBC_PAD, true), des3, true, Bytes(7),
         CKR_ENCRYPTED_DATA_LEN_RANGE},
        {"DES3-CBC-PAD, pad byte 9", Mechanism(CKM_DES3_CBC_PAD, true), des3, true, badPadding,
         CKR_ENCRYPTED_DATA_INVALID},
        {"DES-CBC, 16-byte IV", {CKM_DES_CBC, iv16.data(), 16}, des, false, Bytes(8), CKR_MECHANISM_PARAM_INVALID},
        {"DES3-ECB with an IV", Mechanism(CKM_DES3_ECB, true), des3, false, Bytes(8), CKR_MECHANISM_PARAM_INVALID},
        {"DES key, DES3 mechanism", Mechanism(CKM_DES3_ECB, false), des, false, Bytes(8), CKR_KEY_TYPE_INCONSISTENT},
        {"DES3 key, DES mechanism", Mechanism(CKM_DES_CBC, true), des3, false, Bytes(8), CKR_KEY_TYPE_INCONSISTENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out;
        EXPECT_RV(c.expected, OneShot(c.decrypt, session, c.mechanism, c.key, c.input, out));
        EXPECT_TRUE(out.empty());
    }
}

// SP 800-38B triple DES examples (three keys); _GENERAL truncates to the length it names.
TEST_F(DesTest, TripleDesCmac) {
    CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE key = SecretKey(session, CKK_DES3, Hex("8aa83bf8cbda10620bc1bf19fbb6cd58bc313d4a371ca8b5"));
    const struct {
        const char* data;
        const char* mac;
    } vectors[] = {{"", "b7a688e122ffaf95"},
                   {"6bc1bee22e409f96", "8e8f293136283797"},
                   {"6bc1bee22e409f96e93d7e117393172aae2d8a57", "743ddbe0ce2dc2ed"}};
    CK_ULONG four = 4, nine = 9;
    const CK_MECHANISM cmac = {CKM_DES3_CMAC, nullptr, 0}, general = {CKM_DES3_CMAC_GENERAL, &four, sizeof four};
    for (const auto& vector : vectors) {
        SCOPED_TRACE(vector.data);
        const Bytes expected = Hex(vector.mac);
        Bytes mac;
        ASSERT_RV(CKR_OK, Sign(session, cmac, key, Hex(vector.data), mac));
        EXPECT_EQ(expected, mac);
        EXPECT_RV(CKR_OK, Verify(session, cmac, key, Hex(vector.data), expected));
        ASSERT_RV(CKR_OK, Sign(session, general, key, Hex(vector.data), mac));
        EXPECT_EQ(Bytes(expected.begin(), expected.begin() + 4), mac);
    }
    CK_MECHANISM tooLong = {CKM_DES3_CMAC_GENERAL, &nine, sizeof nine};
    EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, f->C_SignInit(session, &tooLong, key));
}

TEST_F(DesTest, KeysAndGeneration) {
    CK_SESSION_HANDLE session = LoginUser();
    const struct {
        CK_KEY_TYPE keyType;
        CK_MECHANISM_TYPE generator;
        CK_ULONG length;
        const char* checkValue;  // of the known key
    } types[] = {{CKK_DES, CKM_DES_KEY_GEN, 8, "d5d44f"}, {CKK_DES3, CKM_DES3_KEY_GEN, 24, "4eba73"}};
    for (const auto& type : types) {
        SCOPED_TRACE(type.length);
        for (size_t wrong : {type.length - 1, type.length + 1, size_t{16}})
            SecretKey(session, type.keyType, Bytes(wrong, 0x31), {}, CKR_ATTRIBUTE_VALUE_INVALID);
        const CK_OBJECT_HANDLE known = SecretKey(session, type.keyType, Hex(type.length == 8 ? kDesKey : kDes3Key));
        EXPECT_EQ(Hex(type.checkValue), Attribute(session, known, CKA_CHECK_VALUE));
        EXPECT_EQ(type.length, UlongAttribute(session, known, CKA_VALUE_LEN));

        CK_MECHANISM generate = {type.generator, nullptr, 0};
        CK_ULONG length = type.length, wrongLength = type.length + 8;
        CK_ATTRIBUTE attributes[] = {{CKA_SENSITIVE, &Value::False, 1}, {CKA_EXTRACTABLE, &Value::True, 1},
                                     {CKA_ENCRYPT, &Value::True, 1}, {CKA_VALUE_LEN, &length, sizeof length}};
        CK_OBJECT_HANDLE key = 0;
        ASSERT_RV(CKR_OK, f->C_GenerateKey(session, &generate, attributes, 4, &key));
        const Bytes value = Attribute(session, key, CKA_VALUE);
        ASSERT_EQ(type.length, value.size());
        for (unsigned char byte : value) EXPECT_EQ(1, __builtin_popcount(byte) % 2) << int(byte);
        EXPECT_EQ(type.keyType, UlongAttribute(session, key, CKA_KEY_TYPE));
        EXPECT_EQ(type.generator, UlongAttribute(session, key, CKA_KEY_GEN_MECHANISM));
        EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, key, CKA_LOCAL));
        Bytes out;
        EXPECT_RV(CKR_OK, OneShot(false, session, Mechanism(type.length == 8 ? CKM_DES_ECB : CKM_DES3_ECB, false), key,
                                  Bytes(8), out));
        attributes[3].pValue = &wrongLength;
        EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID, f->C_GenerateKey(session, &generate, attributes, 4, &key));
    }
}

// An AES-256 key wrapped by a triple DES key with CBC_PAD comes back whole.
TEST_F(DesTest, WrapsAnAesKey) {
    CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE kek = SecretKey(session, CKK_DES3, Hex(kDes3Key));
    const Bytes aesValue(32, 0xA7);
    const CK_OBJECT_HANDLE aes = SecretKey(session, CKK_AES, aesValue);
    CK_MECHANISM mechanism = Mechanism(CKM_DES3_CBC_PAD, true);
    Bytes wrapped(64);
    CK_ULONG length = wrapped.size();
    ASSERT_RV(CKR_OK, f->C_WrapKey(session, &mechanism, kek, aes, wrapped.data(), &length));
    EXPECT_EQ(40u, length);
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE aesType = CKK_AES;
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &aesType, sizeof aesType},
                                 {CKA_SENSITIVE, &Value::False, 1}, {CKA_EXTRACTABLE, &Value::True, 1}};
    CK_OBJECT_HANDLE unwrapped = 0;
    ASSERT_RV(CKR_OK, f->C_UnwrapKey(session, &mechanism, kek, wrapped.data(), length, attributes, 4, &unwrapped));
    EXPECT_EQ(aesValue, Attribute(session, unwrapped, CKA_VALUE));
    EXPECT_EQ(32u, UlongAttribute(session, unwrapped, CKA_VALUE_LEN));
    // A single DES key's 8 bytes unwrapped as an AES key: a value AES keys cannot have.
    const CK_OBJECT_HANDLE des = SecretKey(session, CKK_DES, Hex(kDesKey));
    CK_MECHANISM ecb = Mechanism(CKM_DES3_ECB, false);
    length = wrapped.size();
    ASSERT_RV(CKR_OK, f->C_WrapKey(session, &ecb, kek, des, wrapped.data(), &length));
    EXPECT_EQ(8u, length);
    EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID,
              f->C_UnwrapKey(session, &ecb, kek, wrapped.data(), length, attributes, 4, &unwrapped));
}

}  // namespace
}  // namespace softtoken_test
