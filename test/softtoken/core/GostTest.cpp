// GOST R 34.10-2001 key pairs and signatures, GOST 28147-89 keys and MACs, with the
// utility's exact templates; signatures are also checked by the openssl command with the
// GOST engine, from the public CKA_VALUE alone.
#include "SoftTokenFixture.h"

#include <cstdlib>
#include <fstream>

namespace softtoken_test {
namespace {

const Bytes kCryptoProA = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};
const Bytes kCryptoProXA = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x24, 0x00};
const Bytes kHashParams = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1E, 0x01};
const Bytes kSboxA = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1F, 0x01};

Bytes Hex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes Tlv(unsigned char tag, const Bytes& content) {
    Bytes out = {tag};
    if (content.size() < 128) {
        out.push_back(static_cast<unsigned char>(content.size()));
    } else {
        out.push_back(0x81);
        out.push_back(static_cast<unsigned char>(content.size()));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// SubjectPublicKeyInfo of a GOST R 34.10-2001 key from its PKCS#11 value and parameters.
Bytes GostSpki(const Bytes& value, const Bytes& params, const Bytes& hashParams) {
    const Bytes algorithm = Concat({Tlv(0x06, {0x2A, 0x85, 0x03, 0x02, 0x02, 0x13}), Tlv(0x30, Concat({params, hashParams}))});
    Bytes bitString = {0x00};
    const Bytes octets = Tlv(0x04, value);
    bitString.insert(bitString.end(), octets.begin(), octets.end());
    return Tlv(0x30, Concat({Tlv(0x30, algorithm), Tlv(0x03, bitString)}));
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

class GostTest : public SoftTokenTest {
protected:
    // The utility's GOST key pair templates: both token objects, no parameter set, no label.
    void GenerateGost(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE& publicKey, CK_OBJECT_HANDLE& privateKey,
                      const Bytes& paramSet = {}) {
        CK_MECHANISM mechanism = {CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
        CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY, privateClass = CKO_PRIVATE_KEY;
        CK_BYTE id = 100;
        std::vector<CK_ATTRIBUTE> publicTemplate = {
            {CKA_CLASS, &publicClass, sizeof publicClass}, {CKA_TOKEN, &Value::True, 1},
            {CKA_ENCRYPT, &Value::True, 1},                {CKA_VERIFY, &Value::True, 1},
            {CKA_WRAP, &Value::True, 1},                   {CKA_ID, &id, 1},
        };
        Bytes params = paramSet;
        if (!params.empty()) publicTemplate.push_back({CKA_GOSTR3410_PARAMS, params.data(), params.size()});
        CK_ATTRIBUTE privateTemplate[] = {
            {CKA_CLASS, &privateClass, sizeof privateClass}, {CKA_TOKEN, &Value::True, 1},
            {CKA_PRIVATE, &Value::True, 1},                  {CKA_SENSITIVE, &Value::True, 1},
            {CKA_DECRYPT, &Value::True, 1},                  {CKA_SIGN, &Value::True, 1},
            {CKA_UNWRAP, &Value::True, 1},                   {CKA_ID, &id, 1},
        };
        ASSERT_RV(CKR_OK, f->C_GenerateKeyPair(session, &mechanism, publicTemplate.data(), publicTemplate.size(),
                                               privateTemplate, 8, &publicKey, &privateKey));
    }

    // The utility's 10-attribute secret key template, plus CKA_VALUE when given.
    CK_RV MakeSecretKey(CK_SESSION_HANDLE session, const Bytes& value, CK_OBJECT_HANDLE& key) {
        CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
        CK_KEY_TYPE keyType = CKK_GOST28147;
        CK_BYTE id = 200;
        Bytes params = kSboxA, keyValue = value;
        std::vector<CK_ATTRIBUTE> attributes = {
            {CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType},
            {CKA_TOKEN, &Value::True, 1},                  {CKA_ID, &id, 1},
            {CKA_ENCRYPT, &Value::True, 1},                {CKA_DECRYPT, &Value::True, 1},
            {CKA_WRAP, &Value::True, 1},                   {CKA_UNWRAP, &Value::True, 1},
            {CKA_EXTRACTABLE, &Value::False, 1},           {CKA_GOST28147_PARAMS, params.data(), params.size()},
        };
        if (value.empty()) {
            CK_MECHANISM mechanism = {CKM_GOST28147_KEY_GEN, nullptr, 0};
            return f->C_GenerateKey(session, &mechanism, attributes.data(), attributes.size(), &key);
        }
        attributes.push_back({CKA_VALUE, keyValue.data(), keyValue.size()});
        return f->C_CreateObject(session, attributes.data(), attributes.size(), &key);
    }
};

TEST_F(GostTest, KeyPairFromTheUtilitysTemplatesDefaultsToCryptoProA) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    GenerateGost(session, publicKey, privateKey);
    for (CK_OBJECT_HANDLE key : {publicKey, privateKey}) {
        EXPECT_EQ(kCryptoProA, Attribute(session, key, CKA_GOSTR3410_PARAMS));
        EXPECT_EQ(kHashParams, Attribute(session, key, CKA_GOSTR3411_PARAMS));
        EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, key, CKA_TOKEN));
        EXPECT_EQ(CKK_GOSTR3410, UlongAttribute(session, key, CKA_KEY_TYPE));
        EXPECT_TRUE(Attribute(session, key, CKA_LABEL).empty());
    }
    EXPECT_EQ(64u, Attribute(session, publicKey, CKA_VALUE).size());
    CK_ATTRIBUTE secret = {CKA_VALUE, nullptr, 0};
    EXPECT_RV(CKR_ATTRIBUTE_SENSITIVE, f->C_GetAttributeValue(session, privateKey, &secret, 1));
}

TEST_F(GostTest, SignaturesVerifyHereAndWithTheOpensslEngine) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    GenerateGost(session, publicKey, privateKey);
    const CK_MECHANISM mechanism = {CKM_GOSTR3410, nullptr, 0};
    Bytes hash(32);
    for (size_t i = 0; i < hash.size(); ++i) hash[i] = static_cast<unsigned char>(0xA5 ^ (i * 13));
    Bytes signature;
    ASSERT_RV(CKR_OK, Sign(session, mechanism, privateKey, hash, signature));
    ASSERT_EQ(64u, signature.size());
    EXPECT_RV(CKR_OK, Verify(session, mechanism, publicKey, hash, signature));

    WriteFile(Dir() + "/pub.der", GostSpki(Attribute(session, publicKey, CKA_VALUE), kCryptoProA, kHashParams));
    WriteFile(Dir() + "/hash", hash);
    WriteFile(Dir() + "/sig", signature);
    const std::string command = "openssl pkeyutl -engine gost -verify -pubin -keyform DER -inkey " + Dir() +
                                "/pub.der -in " + Dir() + "/hash -sigfile " + Dir() + "/sig >/dev/null 2>&1";
    EXPECT_EQ(0, std::system(command.c_str())) << command;

    Bytes corrupt = signature;
    corrupt[10] ^= 0x04;
    EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, mechanism, publicKey, hash, corrupt));
    EXPECT_RV(CKR_SIGNATURE_LEN_RANGE, Verify(session, mechanism, publicKey, hash, Bytes(signature.begin(), signature.end() - 1)));
    for (size_t size : {31u, 33u, 0u}) {
        SCOPED_TRACE(size);
        EXPECT_RV(CKR_DATA_LEN_RANGE, Sign(session, mechanism, privateKey, Bytes(size, 1), signature));
        // The failed call ended the operation.
        CK_ULONG length = 0;
        EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, f->C_Sign(session, hash.data(), 32, nullptr, &length));
    }
}

TEST_F(GostTest, OtherParameterSetsAndHashThenSign) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    GenerateGost(session, publicKey, privateKey, kCryptoProXA);
    EXPECT_EQ(kCryptoProXA, Attribute(session, privateKey, CKA_GOSTR3410_PARAMS));
    const CK_MECHANISM mechanism = {CKM_GOSTR3410_WITH_GOSTR3411, nullptr, 0};
    const Bytes message(100, 'm');
    Bytes signature;
    ASSERT_RV(CKR_OK, Sign(session, mechanism, privateKey, message, signature));
    EXPECT_RV(CKR_OK, Verify(session, mechanism, publicKey, message, signature));
    EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, mechanism, publicKey, Bytes(100, 'n'), signature));

    CK_MECHANISM generate = {CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
    Bytes unknown = {0x06, 0x03, 0x2A, 0x03, 0x04};
    CK_ATTRIBUTE publicTemplate[] = {{CKA_GOSTR3410_PARAMS, unknown.data(), unknown.size()}};
    EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID,
              f->C_GenerateKeyPair(session, &generate, publicTemplate, 1, nullptr, 0, &publicKey, &privateKey));
}

TEST_F(GostTest, GeneratedSecretKeyFollowsTheTemplateAndSignsByDefault) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE key = 0;
    ASSERT_RV(CKR_OK, MakeSecretKey(session, {}, key));
    EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, key, CKA_SIGN));
    EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, key, CKA_VERIFY));
    EXPECT_EQ(Bytes{CK_FALSE}, Attribute(session, key, CKA_EXTRACTABLE));
    EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, key, CKA_NEVER_EXTRACTABLE));
    EXPECT_EQ(kSboxA, Attribute(session, key, CKA_GOST28147_PARAMS));
    CK_ATTRIBUTE value = {CKA_VALUE, nullptr, 0};
    EXPECT_RV(CKR_ATTRIBUTE_SENSITIVE, f->C_GetAttributeValue(session, key, &value, 1));
    CK_BYTE id = 200;
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    EXPECT_EQ(std::vector<CK_OBJECT_HANDLE>{key}, Find(session, {{CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_ID, &id, 1}}));
    ASSERT_RV(CKR_OK, f->C_DestroyObject(session, key));
}

struct MacVector {
    const char* key;
    const char* data;
    const char* mac;
};

// Known answers for the CryptoPro-A S-box with a zero IV.
TEST_F(GostTest, MacKnownAnswersThroughTheStoredKeyTemplate) {
    CK_SESSION_HANDLE session = LoginUser();
    const MacVector vectors[] = {
        {"9d05b79e90cad00a2cdad22ef4e86f5cf5dc37681985b3bfaa18c1c3050a91a2", "b5a1f0e3ce2f021d676194345c41e36e", "f81f08a3"},
        {"423581910ba999ffd943f8c619551f2f2d4540201e1d327ab1076b4f4590d980", "f3b229d27a370312", "6e15fae8"},
        {"b06c48230a6ef4ec27980123a7d8bf6089efade88f79148c185c9adaef0bdda0", "ef068f14c904", "e972aebf"},
        {"a9b637cc6d9b2f25b0df47045068b0274127586abd0a6e502fc6fcc03e2942a5", "1debe6790a5900e68e5c", "317c16e4"},
        {"26cbb9f00c629faa4a1db6300901568966d4e40efef6106b6ce8043ae3614b19", "", "00000000"},
    };
    for (const MacVector& v : vectors) {
        SCOPED_TRACE(v.key);
        CK_OBJECT_HANDLE key = 0;
        ASSERT_RV(CKR_OK, MakeSecretKey(session, Hex(v.key), key));
        CK_MECHANISM mechanism = {CKM_GOST28147_MAC, nullptr, 0};
        Bytes data = Hex(v.data);
        ASSERT_RV(CKR_OK, f->C_SignInit(session, &mechanism, key));
        CK_ULONG length = 0;
        ASSERT_RV(CKR_OK, f->C_Sign(session, data.data(), data.size(), nullptr, &length));
        ASSERT_EQ(4u, length);
        Bytes mac(4);
        // The size query kept the operation.
        ASSERT_RV(CKR_OK, f->C_Sign(session, data.data(), data.size(), mac.data(), &length));
        EXPECT_EQ(Hex(v.mac), mac);
        EXPECT_RV(CKR_OK, Verify(session, mechanism, key, data, mac));
        mac[3] ^= 1;
        EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, mechanism, key, data, mac));
        EXPECT_RV(CKR_SIGNATURE_LEN_RANGE, Verify(session, mechanism, key, data, Bytes(8, 0)));
        ASSERT_RV(CKR_OK, f->C_DestroyObject(session, key));
    }
}

TEST_F(GostTest, MacInitialisationVectors) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE key = 0;
    ASSERT_RV(CKR_OK, MakeSecretKey(session, Hex("9d05b79e90cad00a2cdad22ef4e86f5cf5dc37681985b3bfaa18c1c3050a91a2"), key));
    const Bytes data = Hex("b5a1f0e3ce2f021d676194345c41e36e");
    Bytes zeroIv(8, 0), otherIv(8, 1), shortIv(5, 0);
    Bytes mac;
    ASSERT_RV(CKR_OK, Sign(session, {CKM_GOST28147_MAC, zeroIv.data(), 8}, key, data, mac));
    EXPECT_EQ(Hex("f81f08a3"), mac);
    // An IV the MAC cannot use is refused when the operation starts, for signing and for
    // verification alike; nothing is left active.
    for (CK_MECHANISM refused : {CK_MECHANISM{CKM_GOST28147_MAC, shortIv.data(), 5},
                                 CK_MECHANISM{CKM_GOST28147_MAC, otherIv.data(), 8}}) {
        SCOPED_TRACE(refused.ulParameterLen);
        EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, f->C_SignInit(session, &refused, key));
        EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, f->C_VerifyInit(session, &refused, key));
        ASSERT_RV(CKR_OK, Sign(session, {CKM_GOST28147_MAC, nullptr, 0}, key, data, mac));
        EXPECT_EQ(Hex("f81f08a3"), mac);
    }
}

Bytes Reversed(Bytes bytes) { return Bytes(bytes.rbegin(), bytes.rend()); }

// RFC 5832, section 7.1 (test parameter set), through key objects in the PKCS#11 layouts:
// values reversed to little-endian, the signature as s || r.
TEST_F(GostTest, PublishedSignatureVerifiesThroughKeyObjects) {
    CK_SESSION_HANDLE session = LoginUser();
    Bytes params = Hex("06072a850302022300");
    Bytes publicValue = Concat({Reversed(Hex("7f2b49e270db6d90d8595bec458b50c58585ba1d4e9b788f6689dbd8e56fd80b")),
                                Reversed(Hex("26f1b489d6701dd185c8413a977b3cbbaf64d1c593d26627dffb101a87ff77da"))});
    Bytes privateValue = Reversed(Hex("7a929ade789bb9be10ed359dd39a72c11b60961f49397eee1d19ce9891ec3b28"));
    const Bytes hash = Reversed(Hex("2dfbc1b372d89a1188c09c52e0eec61fce52032ab1022e8e67ece6672b043ee5"));
    const Bytes signature = Concat({Hex("01456c64ba4642a1653c235a98a60249bcd6d3f746b631df928014f6c5bf9c40"),
                                    Hex("41aa28d2f1ab148280cd9ed56feda41974053554a42767b83ad043fd39dc0493")});
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY, privateClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE keyType = CKK_GOSTR3410;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_CLASS, &publicClass, sizeof publicClass},
                                     {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                     {CKA_VALUE, publicValue.data(), publicValue.size()},
                                     {CKA_GOSTR3410_PARAMS, params.data(), params.size()}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_CLASS, &privateClass, sizeof privateClass},
                                      {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                      {CKA_VALUE, privateValue.data(), privateValue.size()},
                                      {CKA_GOSTR3410_PARAMS, params.data(), params.size()}};
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    ASSERT_RV(CKR_OK, f->C_CreateObject(session, publicTemplate, 4, &publicKey));
    ASSERT_RV(CKR_OK, f->C_CreateObject(session, privateTemplate, 4, &privateKey));
    const CK_MECHANISM mechanism = {CKM_GOSTR3410, nullptr, 0};
    EXPECT_RV(CKR_OK, Verify(session, mechanism, publicKey, hash, signature));
    EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, mechanism, publicKey, hash, Reversed(signature)));
    // Signing uses a random k: a new signature differs and still verifies.
    Bytes ours;
    ASSERT_RV(CKR_OK, Sign(session, mechanism, privateKey, hash, ours));
    EXPECT_NE(signature, ours);
    EXPECT_RV(CKR_OK, Verify(session, mechanism, publicKey, hash, ours));
}

TEST_F(GostTest, SecretKeyValueMustBe32Bytes) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE key = 0;
    EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID, MakeSecretKey(session, Bytes(31, 7), key));
    EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID, MakeSecretKey(session, Bytes(33, 7), key));
    EXPECT_TRUE(FindAll(session).empty());
}

}  // namespace
}  // namespace softtoken_test
