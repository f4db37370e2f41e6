// HMAC over the SHA family under generic secret keys (RFC 2202 and RFC 4231 vectors, in one
// piece and in uneven parts), the general-length mechanisms, key checks, and generic secret
// key generation with its attribute policy; generated keys are cross-checked with OpenSSL.
#include "SoftTokenFixture.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace softtoken_test {
namespace {

Bytes Hex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes Repeat(unsigned char byte, size_t count) { return Bytes(count, byte); }
Bytes Counting(size_t count) {  // 0x01, 0x02, ...
    Bytes out;
    for (size_t i = 1; i <= count; ++i) out.push_back(static_cast<unsigned char>(i));
    return out;
}

const char kHashKeyFirst[] = "Test Using Larger Than Block-Size Key - Hash Key First";
const char kLargerData2202[] = "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data";
const char kLargerData4231[] =
    "This is a test using a larger than block-size key and a larger than block-size data. The key needs to be "
    "hashed before being used by the HMAC algorithm.";

struct MacCase {
    const char* name;
    CK_MECHANISM_TYPE mechanism;  // the full-length one; truncated values go through its _GENERAL form
    Bytes key;
    Bytes data;
    const char* mac;
};

// RFC 2202 (HMAC-SHA-1) and RFC 4231 (HMAC-SHA-224/256/384/512); case 5 is truncated.
const MacCase kMacCases[] = {
    {"RFC 2202 case 1", CKM_SHA_1_HMAC, Repeat(0x0b, 20), Text("Hi There"),
     "b617318655057264e28bc0b6fb378c8ef146be00"},
    {"RFC 2202 case 2", CKM_SHA_1_HMAC, Text("Jefe"), Text("what do ya want for nothing?"),
     "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
    {"RFC 2202 case 3", CKM_SHA_1_HMAC, Repeat(0xaa, 20), Repeat(0xdd, 50),
     "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
    {"RFC 2202 case 4", CKM_SHA_1_HMAC, Counting(25), Repeat(0xcd, 50),
     "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
    {"RFC 2202 case 5", CKM_SHA_1_HMAC, Repeat(0x0c, 20), Text("Test With Truncation"),
     "4c1a03424b55e07fe7f27be1"},
    {"RFC 2202 case 6", CKM_SHA_1_HMAC, Repeat(0xaa, 80), Text(kHashKeyFirst),
     "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
    {"RFC 2202 case 7", CKM_SHA_1_HMAC, Repeat(0xaa, 80), Text(kLargerData2202),
     "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
    {"RFC 4231 case 1", CKM_SHA224_HMAC, Repeat(0x0b, 20), Text("Hi There"),
     "896fb1128abbdf196832107cd49df33f47b4b1169912ba4f53684b22"},
    {"RFC 4231 case 2", CKM_SHA224_HMAC, Text("Jefe"), Text("what do ya want for nothing?"),
     "a30e01098bc6dbbf45690f3a7e9e6d0f8bbea2a39e6148008fd05e44"},
    {"RFC 4231 case 3", CKM_SHA224_HMAC, Repeat(0xaa, 20), Repeat(0xdd, 50),
     "7fb3cb3588c6c1f6ffa9694d7d6ad2649365b0c1f65d69d1ec8333ea"},
    {"RFC 4231 case 4", CKM_SHA224_HMAC, Counting(25), Repeat(0xcd, 50),
     "6c11506874013cac6a2abc1bb382627cec6a90d86efc012de7afec5a"},
    {"RFC 4231 case 5", CKM_SHA224_HMAC, Repeat(0x0c, 20), Text("Test With Truncation"),
     "0e2aea68a90c8d37c988bcdb9fca6fa8"},
    {"RFC 4231 case 6", CKM_SHA224_HMAC, Repeat(0xaa, 131), Text(kHashKeyFirst),
     "95e9a0db962095adaebe9b2d6f0dbce2d499f112f2d2b7273fa6870e"},
    {"RFC 4231 case 7", CKM_SHA224_HMAC, Repeat(0xaa, 131), Text(kLargerData4231),
     "3a854166ac5d9f023f54d517d0b39dbd946770db9c2b95c9f6f565d1"},
    {"RFC 4231 case 1", CKM_SHA256_HMAC, Repeat(0x0b, 20), Text("Hi There"),
     "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
    {"RFC 4231 case 2", CKM_SHA256_HMAC, Text("Jefe"), Text("what do ya want for nothing?"),
     "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
    {"RFC 4231 case 3", CKM_SHA256_HMAC, Repeat(0xaa, 20), Repeat(0xdd, 50),
     "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
    {"RFC 4231 case 4", CKM_SHA256_HMAC, Counting(25), Repeat(0xcd, 50),
     "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
    {"RFC 4231 case 5", CKM_SHA256_HMAC, Repeat(0x0c, 20), Text("Test With Truncation"),
     "a3b6167473100ee06e0c796c2955552b"},
    {"RFC 4231 case 6", CKM_SHA256_HMAC, Repeat(0xaa, 131), Text(kHashKeyFirst),
     "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
    {"RFC 4231 case 7", CKM_SHA256_HMAC, Repeat(0xaa, 131), Text(kLargerData4231),
     "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    {"RFC 4231 case 1", CKM_SHA384_HMAC, Repeat(0x0b, 20), Text("Hi There"),
     "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6"},
    {"RFC 4231 case 2", CKM_SHA384_HMAC, Text("Jefe"), Text("what do ya want for nothing?"),
     "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649"},
    {"RFC 4231 case 3", CKM_SHA384_HMAC, Repeat(0xaa, 20), Repeat(0xdd, 50),
     "88062608d3e6ad8a0aa2ace014c8a86f0aa635d947ac9febe83ef4e55966144b2a5ab39dc13814b94e3ab6e101a34f27"},
    {"RFC 4231 case 4", CKM_SHA384_HMAC, Counting(25), Repeat(0xcd, 50),
     "3e8a69b7783c25851933ab6290af6ca77a9981480850009cc5577c6e1f573b4e6801dd23c4a7d679ccf8a386c674cffb"},
    {"RFC 4231 case 5", CKM_SHA384_HMAC, Repeat(0x0c, 20), Text("Test With Truncation"),
     "3abf34c3503b2a23a46efc619baef897"},
    {"RFC 4231 case 6", CKM_SHA384_HMAC, Repeat(0xaa, 131), Text(kHashKeyFirst),
     "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952"},
    {"RFC 4231 case 7", CKM_SHA384_HMAC, Repeat(0xaa, 131), Text(kLargerData4231),
     "6617178e941f020d351e2f254e8fd32c602420feb0b8fb9adccebb82461e99c5a678cc31e799176d3860e6110c46523e"},
    {"RFC 4231 case 1", CKM_SHA512_HMAC, Repeat(0x0b, 20), Text("Hi There"),
     "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854"},
    {"RFC 4231 case 2", CKM_SHA512_HMAC, Text("Jefe"), Text("what do ya want for nothing?"),
     "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b4b636e070a38bce737"},
    {"RFC 4231 case 3", CKM_SHA512_HMAC, Repeat(0xaa, 20), Repeat(0xdd, 50),
     "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39bf3e848279a722c806b485a47e67c807b946a337bee8942674278859e13292fb"},
    {"RFC 4231 case 4", CKM_SHA512_HMAC, Counting(25), Repeat(0xcd, 50),
     "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3dba91ca5c11aa25eb4d679275cc5788063a5f19741120c4f2de2adebeb10a298dd"},
    {"RFC 4231 case 5", CKM_SHA512_HMAC, Repeat(0x0c, 20), Text("Test With Truncation"),
     "415fad6271580a531d4179bc891d87a6"},
    {"RFC 4231 case 6", CKM_SHA512_HMAC, Repeat(0xaa, 131), Text(kHashKeyFirst),
     "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598"},
    {"RFC 4231 case 7", CKM_SHA512_HMAC, Repeat(0xaa, 131), Text(kLargerData4231),
     "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944b6022cac3c4982b10d5eeb55c3e4de15134676fb6de0446065c97440fa8c6a58"},
};

struct Family {
    CK_MECHANISM_TYPE full;
    CK_MECHANISM_TYPE general;
    const EVP_MD* (*md)();
    CK_ULONG length;
};

const Family kFamilies[] = {
    {CKM_SHA_1_HMAC, CKM_SHA_1_HMAC_GENERAL, EVP_sha1, 20},
    {CKM_SHA224_HMAC, CKM_SHA224_HMAC_GENERAL, EVP_sha224, 28},
    {CKM_SHA256_HMAC, CKM_SHA256_HMAC_GENERAL, EVP_sha256, 32},
    {CKM_SHA384_HMAC, CKM_SHA384_HMAC_GENERAL, EVP_sha384, 48},
    {CKM_SHA512_HMAC, CKM_SHA512_HMAC_GENERAL, EVP_sha512, 64},
};

const Family& FamilyOf(CK_MECHANISM_TYPE full) {
    for (const Family& family : kFamilies)
        if (family.full == full) return family;
    throw std::invalid_argument("no such HMAC");
}

Bytes OpenSslHmac(const Family& family, const Bytes& key, const Bytes& data) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    HMAC(family.md(), key.data(), static_cast<int>(key.size()), data.data(), data.size(), out.data(), &length);
    out.resize(length);
    return out;
}

class HmacTest : public SoftTokenTest {
protected:
    CK_OBJECT_HANDLE Secret(CK_SESSION_HANDLE session, const Bytes& value, CK_BBOOL sign = CK_TRUE,
                            CK_KEY_TYPE keyType = CKK_GENERIC_SECRET) {
        CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
        Bytes keyValue = value;
        CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                     {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                     {CKA_SIGN, &sign, 1},
                                     {CKA_VERIFY, &Value::True, 1},
                                     {CKA_VALUE, keyValue.data(), keyValue.size()}};
        CK_OBJECT_HANDLE key = 0;
        EXPECT_RV(CKR_OK, f->C_CreateObject(session, attributes, 5, &key));
        return key;
    }

    // Signs in pieces of 1, 2, 3, ... bytes, then asks for the length before taking the MAC.
    CK_RV SignInPieces(CK_SESSION_HANDLE session, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, const Bytes& data,
                      Bytes& mac) {
        CK_RV rv = f->C_SignInit(session, &mechanism, key);
        Bytes input = data;
        for (size_t at = 0, piece = 1; rv == CKR_OK && at < input.size(); at += piece, ++piece)
            rv = f->C_SignUpdate(session, input.data() + at, std::min(piece, input.size() - at));
        CK_ULONG length = 0;
        if (rv == CKR_OK) rv = f->C_SignFinal(session, nullptr, &length);
        mac.assign(length, 0);
        if (rv == CKR_OK) rv = f->C_SignFinal(session, mac.data(), &length);
        mac.resize(rv == CKR_OK ? length : 0);
        return rv;
    }

    CK_RV VerifyInPieces(CK_SESSION_HANDLE session, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key,
                        const Bytes& data, const Bytes& mac) {
        CK_RV rv = f->C_VerifyInit(session, &mechanism, key);
        Bytes input = data, value = mac;
        const size_t half = input.size() / 3;
        if (rv == CKR_OK) rv = f->C_VerifyUpdate(session, input.data(), half);
        if (rv == CKR_OK) rv = f->C_VerifyUpdate(session, input.data() + half, input.size() - half);
        if (rv == CKR_OK) rv = f->C_VerifyFinal(session, value.data(), value.size());
        return rv;
    }

    CK_RV GenerateSecret(CK_SESSION_HANDLE session, std::vector<CK_ATTRIBUTE> attributes, CK_OBJECT_HANDLE& key) {
        CK_MECHANISM mechanism = {CKM_GENERIC_SECRET_KEY_GEN, nullptr, 0};
        return f->C_GenerateKey(session, &mechanism, attributes.data(), attributes.size(), &key);
    }
};

TEST_F(HmacTest, KnownAnswersInOnePieceAndInPieces) {
    CK_SESSION_HANDLE session = LoginUser();
    for (const MacCase& test : kMacCases) {
        SCOPED_TRACE(test.name);
        const Family& family = FamilyOf(test.mechanism);
        const Bytes expected = Hex(test.mac);
        CK_ULONG length = expected.size();
        CK_MECHANISM mechanism = {family.full, nullptr, 0};
        if (length != family.length) mechanism = {family.general, &length, sizeof length};
        const CK_OBJECT_HANDLE key = Secret(session, test.key);
        Bytes mac;
        EXPECT_RV(CKR_OK, Sign(session, mechanism, key, test.data, mac));
        EXPECT_EQ(expected, mac);
        EXPECT_RV(CKR_OK, SignInPieces(session, mechanism, key, test.data, mac));
        EXPECT_EQ(expected, mac);
        EXPECT_RV(CKR_OK, Verify(session, mechanism, key, test.data, expected));
        EXPECT_RV(CKR_OK, VerifyInPieces(session, mechanism, key, test.data, expected));
        Bytes wrong = expected;
        wrong.back() ^= 0x01;
        EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, mechanism, key, test.data, wrong));
        EXPECT_RV(CKR_SIGNATURE_INVALID, VerifyInPieces(session, mechanism, key, test.data, wrong));
        wrong.pop_back();
        EXPECT_RV(CKR_SIGNATURE_LEN_RANGE, Verify(session, mechanism, key, test.data, wrong));
    }
}

TEST_F(HmacTest, GeneralLengthsGiveTheFirstBytesAndVerifyOnlyAtThatLength) {
    CK_SESSION_HANDLE session = LoginUser();
    const Bytes value = Repeat(0x42, 40), data = Text("general length");
    const CK_OBJECT_HANDLE key = Secret(session, value);
    for (const Family& family : kFamilies) {
        const Bytes full = OpenSslHmac(family, value, data);
        for (CK_ULONG length : {CK_ULONG{1}, family.length - 1, family.length}) {
            SCOPED_TRACE(std::to_string(family.full) + " length " + std::to_string(length));
            CK_MECHANISM mechanism = {family.general, &length, sizeof length};
            Bytes mac;
            ASSERT_RV(CKR_OK, Sign(session, mechanism, key, data, mac));
            EXPECT_EQ(Bytes(full.begin(), full.begin() + length), mac);
            EXPECT_RV(CKR_OK, Verify(session, mechanism, key, data, mac));
            if (length < family.length) {
                EXPECT_RV(CKR_SIGNATURE_LEN_RANGE, Verify(session, mechanism, key, data, full));
            }
        }
    }
}

TEST_F(HmacTest, MechanismParametersAreChecked) {
    CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE key = Secret(session, Repeat(0x42, 32));
    struct Case {
        const char* name;
        CK_MECHANISM_TYPE type;
        CK_ULONG length;
        CK_ULONG parameterLength;
    };
    const Case cases[] = {
        {"general length zero", CKM_SHA256_HMAC_GENERAL, 0, sizeof(CK_ULONG)},
        {"general length beyond the digest", CKM_SHA256_HMAC_GENERAL, 33, sizeof(CK_ULONG)},
        {"general length beyond SHA-1", CKM_SHA_1_HMAC_GENERAL, 21, sizeof(CK_ULONG)},
        {"general parameter too short", CKM_SHA512_HMAC_GENERAL, 16, sizeof(CK_ULONG) - 1},
        {"general parameter too long", CKM_SHA512_HMAC_GENERAL, 16, sizeof(CK_ULONG) + 1},
        {"general without parameter", CKM_SHA384_HMAC_GENERAL, 16, 0},
        {"full length with a parameter", CKM_SHA224_HMAC, 16, sizeof(CK_ULONG)},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        unsigned char parameter[sizeof(CK_ULONG) + 1] = {};
        std::memcpy(parameter, &test.length, sizeof test.length);
        CK_MECHANISM mechanism = {test.type, test.parameterLength ? parameter : nullptr, test.parameterLength};
        EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, f->C_SignInit(session, &mechanism, key));
        EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, f->C_VerifyInit(session, &mechanism, key));
    }
    // A refused Init leaves no operation behind.
    CK_ULONG length = 0;
    EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, f->C_SignFinal(session, nullptr, &length));
}

TEST_F(HmacTest, KeysOfOtherTypesSizesOrUsesAreRefused) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE rsaPublic = 0, rsaPrivate = 0;
    GenerateRsa(session, 1024, rsaPublic, rsaPrivate);
    struct Case {
        const char* name;
        CK_OBJECT_HANDLE key;
        CK_RV expected;
    };
    const Case cases[] = {
        {"GOST 28147-89 secret key", Secret(session, Repeat(0x11, 32), CK_TRUE, CKK_GOST28147),
         CKR_KEY_TYPE_INCONSISTENT},
        {"RSA private key", rsaPrivate, CKR_KEY_TYPE_INCONSISTENT},
        {"empty value", Secret(session, {}), CKR_KEY_SIZE_RANGE},
        {"513-byte value", Secret(session, Repeat(0x11, 513)), CKR_KEY_SIZE_RANGE},
        {"CKA_SIGN false", Secret(session, Repeat(0x11, 32), CK_FALSE), CKR_KEY_FUNCTION_NOT_PERMITTED},
    };
    CK_MECHANISM mechanism = {CKM_SHA256_HMAC, nullptr, 0};
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        EXPECT_RV(test.expected, f->C_SignInit(session, &mechanism, test.key));
    }
    Bytes mac;
    EXPECT_RV(CKR_OK, Sign(session, mechanism, Secret(session, Repeat(0x11, 512)), Text("largest key"), mac));
    EXPECT_RV(CKR_OK, Sign(session, mechanism, Secret(session, Repeat(0x11, 1)), Text("smallest key"), mac));
}

TEST_F(HmacTest, GeneratedSecretsHaveTheirLengthMarksAndWorkAsOpenSslComputes) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_ULONG valueLength = 48;
    CK_OBJECT_HANDLE key = 0;
    ASSERT_RV(CKR_OK, GenerateSecret(session,
                                     {{CKA_VALUE_LEN, &valueLength, sizeof valueLength},
                                      {CKA_SENSITIVE, &Value::False, 1},
                                      {CKA_EXTRACTABLE, &Value::True, 1}},
                                     key));
    const Bytes value = Attribute(session, key, CKA_VALUE);
    EXPECT_EQ(48u, value.size());
    EXPECT_EQ(48u, UlongAttribute(session, key, CKA_VALUE_LEN));
    EXPECT_EQ(CKK_GENERIC_SECRET, UlongAttribute(session, key, CKA_KEY_TYPE));
    EXPECT_EQ(CKM_GENERIC_SECRET_KEY_GEN, UlongAttribute(session, key, CKA_KEY_GEN_MECHANISM));
    EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, key, CKA_LOCAL));
    EXPECT_EQ(Bytes{CK_FALSE}, Attribute(session, key, CKA_ALWAYS_SENSITIVE));
    EXPECT_EQ(Bytes{CK_FALSE}, Attribute(session, key, CKA_NEVER_EXTRACTABLE));
    const Bytes data = Text("generated key");
    for (const Family& family : kFamilies) {
        Bytes mac;
        CK_MECHANISM mechanism = {family.full, nullptr, 0};
        EXPECT_RV(CKR_OK, Sign(session, mechanism, key, data, mac));
        EXPECT_EQ(OpenSslHmac(family, value, data), mac);
    }

    CK_OBJECT_HANDLE other = 0;
    ASSERT_RV(CKR_OK, GenerateSecret(session, {{CKA_VALUE_LEN, &valueLength, sizeof valueLength},
                                              {CKA_SENSITIVE, &Value::False, 1}, {CKA_EXTRACTABLE, &Value::True, 1}},
                                     other));
    EXPECT_NE(value, Attribute(session, other, CKA_VALUE));
}

TEST_F(HmacTest, SensitiveGeneratedSecretsKeepTheirValue) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_ULONG valueLength = 16;
    CK_OBJECT_HANDLE key = 0;
    ASSERT_RV(CKR_OK, GenerateSecret(session, {{CKA_VALUE_LEN, &valueLength, sizeof valueLength}}, key));
    EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, key, CKA_SENSITIVE));
    EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, key, CKA_ALWAYS_SENSITIVE));
    EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, key, CKA_NEVER_EXTRACTABLE));
    CK_ATTRIBUTE secret = {CKA_VALUE, nullptr, 0};
    EXPECT_RV(CKR_ATTRIBUTE_SENSITIVE, f->C_GetAttributeValue(session, key, &secret, 1));
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, secret.ulValueLen);
    EXPECT_EQ(16u, UlongAttribute(session, key, CKA_VALUE_LEN));
    // Extractable but sensitive is still unreadable.
    ASSERT_RV(CKR_OK, GenerateSecret(session, {{CKA_VALUE_LEN, &valueLength, sizeof valueLength},
                                              {CKA_EXTRACTABLE, &Value::True, 1}},
                                     key));
    EXPECT_RV(CKR_ATTRIBUTE_SENSITIVE, f->C_GetAttributeValue(session, key, &secret, 1));
}

TEST_F(HmacTest, GenerationTemplatesAreChecked) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_ULONG zero = 0, tooLong = 513, fine = 32;
    CK_KEY_TYPE aes = CKK_AES;
    CK_BYTE value[4] = {1, 2, 3, 4};
    struct Case {
        const char* name;
        std::vector<CK_ATTRIBUTE> attributes;
        CK_RV expected;
    };
    const Case cases[] = {
        {"no CKA_VALUE_LEN", {{CKA_SIGN, &Value::True, 1}}, CKR_TEMPLATE_INCOMPLETE},
        {"zero length", {{CKA_VALUE_LEN, &zero, sizeof zero}}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"513 bytes", {{CKA_VALUE_LEN, &tooLong, sizeof tooLong}}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"another key type", {{CKA_VALUE_LEN, &fine, sizeof fine}, {CKA_KEY_TYPE, &aes, sizeof aes}},
         CKR_TEMPLATE_INCONSISTENT},
        {"a value", {{CKA_VALUE_LEN, &fine, sizeof fine}, {CKA_VALUE, value, sizeof value}}, CKR_ATTRIBUTE_READ_ONLY},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        CK_OBJECT_HANDLE key = 0;
        EXPECT_RV(test.expected, GenerateSecret(session, test.attributes, key));
    }
    CK_ULONG parameter = 1;
    CK_MECHANISM withParameter = {CKM_GENERIC_SECRET_KEY_GEN, &parameter, sizeof parameter};
    CK_ATTRIBUTE length = {CKA_VALUE_LEN, &fine, sizeof fine};
    CK_OBJECT_HANDLE key = 0;
    EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, f->C_GenerateKey(session, &withParameter, &length, 1, &key));
}

TEST_F(HmacTest, CreatedSecretsTakeTheirLengthFromTheValueAndAreNotLocal) {
    CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE key = Secret(session, Repeat(0x5a, 24));
    EXPECT_EQ(24u, UlongAttribute(session, key, CKA_VALUE_LEN));
    EXPECT_EQ(Bytes{CK_FALSE}, Attribute(session, key, CKA_LOCAL));
    EXPECT_EQ(Bytes{CK_FALSE}, Attribute(session, key, CKA_ALWAYS_SENSITIVE));
    EXPECT_EQ(Bytes{CK_FALSE}, Attribute(session, key, CKA_NEVER_EXTRACTABLE));
    CK_ATTRIBUTE secret = {CKA_VALUE, nullptr, 0};
    EXPECT_RV(CKR_ATTRIBUTE_SENSITIVE, f->C_GetAttributeValue(session, key, &secret, 1));
    EXPECT_EQ(CK_UNAVAILABLE_INFORMATION, UlongAttribute(session, key, CKA_KEY_GEN_MECHANISM));

    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE keyType = CKK_GENERIC_SECRET;
    CK_ULONG length = 4;
    CK_BYTE value[4] = {1, 2, 3, 4};
    CK_ATTRIBUTE withLength[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                 {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                 {CKA_VALUE, value, sizeof value},
                                 {CKA_VALUE_LEN, &length, sizeof length}};
    CK_OBJECT_HANDLE refused = 0;
    EXPECT_RV(CKR_ATTRIBUTE_READ_ONLY, f->C_CreateObject(session, withLength, 4, &refused));
    EXPECT_RV(CKR_TEMPLATE_INCOMPLETE, f->C_CreateObject(session, withLength, 2, &refused));
}

}  // namespace
}  // namespace softtoken_test
