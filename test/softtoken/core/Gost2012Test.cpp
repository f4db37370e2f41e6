// GOST R 34.11 digests, GOST R 34.10-2012 key pairs and signatures, and GOST 28147-89
// encryption and key wrapping through the function list: the standards' examples, and the
// openssl command with the GOST engine checking what the token made.
#include "SoftTokenFixture.h"

#include "mechanisms/gost/GostConstants.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace softtoken_test {
namespace {

using softtoken::CKK_GOSTR3410_512;
using softtoken::CKM_GOSTR3410_512;
using softtoken::CKM_GOSTR3410_512_KEY_PAIR_GEN;
using softtoken::CKM_GOSTR3410_WITH_GOSTR3411_12_256;
using softtoken::CKM_GOSTR3410_WITH_GOSTR3411_12_512;
using softtoken::CKM_GOSTR3411_12_256;
using softtoken::CKM_GOSTR3411_12_512;
using softtoken::CKM_NIMB_GOST28147_CNT;

Bytes Hex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

std::string ToHex(const Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

Bytes Reversed(Bytes bytes) { return Bytes(bytes.rbegin(), bytes.rend()); }

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Tlv(unsigned char tag, const Bytes& content) {
    Bytes out = {tag};
    if (content.size() >= 128) out.push_back(0x81);
    out.push_back(static_cast<unsigned char>(content.size()));
    return Concat({out, content});
}

Bytes Oid(std::initializer_list<unsigned char> body) { return Tlv(0x06, Bytes(body)); }

const Bytes kCryptoProA = Oid({0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01});
const Bytes kTestParamSet = Oid({0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x00});
const Bytes kTc26A256 = Oid({0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x01, 0x01});
const Bytes kTc26A512 = Oid({0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x01});
const Bytes kTc26C512 = Oid({0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x03});
const Bytes kHash94 = Oid({0x2A, 0x85, 0x03, 0x02, 0x02, 0x1E, 0x01});
const Bytes kHash94Test = Oid({0x2A, 0x85, 0x03, 0x02, 0x02, 0x1E, 0x00});
const Bytes kHash256 = Oid({0x2A, 0x85, 0x03, 0x07, 0x01, 0x01, 0x02, 0x02});
const Bytes kHash512 = Oid({0x2A, 0x85, 0x03, 0x07, 0x01, 0x01, 0x02, 0x03});
const Bytes kAlgorithm256 = Oid({0x2A, 0x85, 0x03, 0x07, 0x01, 0x01, 0x01, 0x01});
const Bytes kAlgorithm512 = Oid({0x2A, 0x85, 0x03, 0x07, 0x01, 0x01, 0x01, 0x02});
const Bytes kSboxA = Oid({0x2A, 0x85, 0x03, 0x02, 0x02, 0x1F, 0x01});
const Bytes kSboxB = Oid({0x2A, 0x85, 0x03, 0x02, 0x02, 0x1F, 0x02});

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

Bytes Pattern(size_t length, unsigned seed) {
    Bytes data(length);
    for (size_t i = 0; i < length; ++i) data[i] = static_cast<unsigned char>(i * 31 + seed);
    return data;
}

// RFC 6986 section 10: M1, and M2 (CP1251 text).
const std::string kM1 = "012345678901234567890123456789012345678901234567890123456789012";
const char* const kM2 =
    "d1e520e2e5f2f0e82c20d1f2f0e8e1eee6e820e2edf3f6e82c20e2e5fef2fa20f120eceef0ff20f1f2f0e5ebe0ece820ede020"
    "f5f0e0e1f0fbff20efebfaeafb20c8e3eef0e5e2fb";

struct DigestCase {
    const char* name;
    CK_MECHANISM_TYPE mechanism;
    Bytes parameter;
    Bytes message;
    const char* digest;
};

// GOST R 34.11-2012 (RFC 6986 section 10) and GOST R 34.11-94 with the CryptoPro hash parameters
// (RFC 5831 section 7.3.2).
const DigestCase kDigestCases[] = {
    {"M1_256", CKM_GOSTR3411_12_256, {}, Bytes(kM1.begin(), kM1.end()),
     "9d151eefd8590b89daa6ba6cb74af9275dd051026bb149a452fd84e5e57b5500"},
    {"M2_256", CKM_GOSTR3411_12_256, {}, Hex(kM2), "9dd2fe4e90409e5da87f53976d7405b0c0cac628fc669a741d50063c557e8f50"},
    {"M1_512", CKM_GOSTR3411_12_512, {}, Bytes(kM1.begin(), kM1.end()),
     "1b54d01a4af5b9d5cc3d86d68d285462b19abc2475222f35c085122be4ba1ffa00ad30f8767b3a82384c6574f024c311e2a481332b08ef7f"
     "41797891c1646f48"},
    {"M2_512", CKM_GOSTR3411_12_512, {}, Hex(kM2),
     "1e88e62226bfca6f9994f1f2d51569e0daf8475a3b0fe61a5300eee46d961376035fe83549ada2b8620fcd7c496ce5b33f0cb9dddc2b6460"
     "143b03dabac9fb28"},
    {"Gost94_abc", CKM_GOSTR3411, {}, {'a', 'b', 'c'},
     "b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c"},
    {"Gost94_50_NamedParameters", CKM_GOSTR3411, kHash94,
     [] {
         const std::string text = "Suppose the original message has length = 50 bytes";
         return Bytes(text.begin(), text.end());
     }(),
     "c3730c5cbccacf915ac292676f21e8bd4ef75331d9405e5f1a61dc3130a65011"},
};

class GostDigestTest : public SoftTokenTest, public ::testing::WithParamInterface<DigestCase> {};

TEST_P(GostDigestTest, OnePieceAndPartsGiveTheKnownDigest) {
    const DigestCase& c = GetParam();
    CK_SESSION_HANDLE session = Open(false);
    Bytes parameter = c.parameter, message = c.message;
    CK_MECHANISM mechanism = {c.mechanism, parameter.empty() ? nullptr : parameter.data(), parameter.size()};
    ASSERT_RV(CKR_OK, f->C_DigestInit(session, &mechanism));
    CK_ULONG length = 0;
    ASSERT_RV(CKR_OK, f->C_Digest(session, message.data(), message.size(), nullptr, &length));
    Bytes digest(length);
    ASSERT_RV(CKR_OK, f->C_Digest(session, message.data(), message.size(), digest.data(), &length));
    EXPECT_EQ(ToHex(digest), c.digest);

    for (size_t piece : {size_t{1}, size_t{5}, size_t{32}}) {
        ASSERT_RV(CKR_OK, f->C_DigestInit(session, &mechanism));
        for (size_t at = 0; at < message.size(); at += piece)
            ASSERT_RV(CKR_OK, f->C_DigestUpdate(session, message.data() + at, std::min(piece, message.size() - at)));
        Bytes parts(digest.size());
        length = parts.size();
        ASSERT_RV(CKR_OK, f->C_DigestFinal(session, parts.data(), &length));
        EXPECT_EQ(ToHex(parts), c.digest) << "pieces of " << piece;
    }
}

INSTANTIATE_TEST_SUITE_P(Vectors, GostDigestTest, ::testing::ValuesIn(kDigestCases),
                         [](const auto& info) { return std::string(info.param.name); });

class Gost2012Test : public SoftTokenTest {
protected:
    // A key pair from minimal templates, with the parameter sets given (when not empty).
    CK_RV GeneratePair(CK_SESSION_HANDLE session, CK_MECHANISM_TYPE type, const Bytes& paramSet,
                       const Bytes& hashParams, CK_OBJECT_HANDLE& publicKey, CK_OBJECT_HANDLE& privateKey) {
        CK_MECHANISM mechanism = {type, nullptr, 0};
        Bytes params = paramSet, hash = hashParams;
        std::vector<CK_ATTRIBUTE> publicTemplate = {{CKA_VERIFY, &Value::True, 1}};
        if (!params.empty()) publicTemplate.push_back({CKA_GOSTR3410_PARAMS, params.data(), params.size()});
        if (!hash.empty()) publicTemplate.push_back({CKA_GOSTR3411_PARAMS, hash.data(), hash.size()});
        CK_ATTRIBUTE privateTemplate[] = {{CKA_SIGN, &Value::True, 1}, {CKA_EXTRACTABLE, &Value::True, 1}};
        return f->C_GenerateKeyPair(session, &mechanism, publicTemplate.data(), publicTemplate.size(),
                                    privateTemplate, 2, &publicKey, &privateKey);
    }

    CK_RV MakeGost28147(CK_SESSION_HANDLE session, const Bytes& value, const Bytes& sbox, CK_OBJECT_HANDLE& key) {
        CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
        CK_KEY_TYPE keyType = CKK_GOST28147;
        Bytes keyValue = value, params = sbox;
        CK_ATTRIBUTE attributes[] = {
            {CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType},
            {CKA_ENCRYPT, &Value::True, 1},                {CKA_DECRYPT, &Value::True, 1},
            {CKA_WRAP, &Value::True, 1},                   {CKA_UNWRAP, &Value::True, 1},
            {CKA_EXTRACTABLE, &Value::True, 1},            {CKA_SENSITIVE, &Value::False, 1},
            {CKA_VALUE, keyValue.data(), keyValue.size()}, {CKA_GOST28147_PARAMS, params.data(), params.size()},
        };
        return f->C_CreateObject(session, attributes, 10, &key);
    }

    // Runs the openssl command; true when it exits with 0.
    bool Openssl(const std::string& arguments) {
        const std::string command = "openssl " + arguments + " >" + Dir() + "/openssl.out 2>&1";
        return std::system(command.c_str()) == 0;
    }

    // SubjectPublicKeyInfo of a 2012 key (algorithm parameters with the hash, as the engine writes
    // them for these parameter sets).
    static Bytes Spki(bool is512, const Bytes& value, const Bytes& params) {
        const Bytes algorithm = Tlv(0x30, Concat({is512 ? kAlgorithm512 : kAlgorithm256,
                                                  Tlv(0x30, Concat({params, is512 ? kHash512 : kHash256}))}));
        return Tlv(0x30, Concat({algorithm, Tlv(0x03, Concat({Bytes{0x00}, Tlv(0x04, value)}))}));
    }
};

struct SignatureCase {
    const char* name;
    CK_MECHANISM_TYPE generate;
    Bytes paramSet;
    Bytes hashParams;
    CK_MECHANISM_TYPE sign;
    size_t dataLength;  // the hash length for the raw mechanisms
    bool hashes;
    CK_KEY_TYPE keyType;
    Bytes recordedParams;
    Bytes recordedHash;
    size_t signatureLength;
    const char* opensslDigest;  // null: no command-line check
};

const SignatureCase kSignatureCases[] = {
    {"Raw256ByHashParams", CKM_GOSTR3410_KEY_PAIR_GEN, {}, kHash256, CKM_GOSTR3410, 32, false, CKK_GOSTR3410,
     kCryptoProA, kHash256, 64, nullptr},
    {"Raw256ByTc26ParamSet", CKM_GOSTR3410_KEY_PAIR_GEN, kTc26A256, {}, CKM_GOSTR3410, 32, false, CKK_GOSTR3410,
     kTc26A256, kHash256, 64, nullptr},
    {"Streebog256", CKM_GOSTR3410_KEY_PAIR_GEN, kCryptoProA, kHash256, CKM_GOSTR3410_WITH_GOSTR3411_12_256, 1000,
     true, CKK_GOSTR3410, kCryptoProA, kHash256, 64, "md_gost12_256"},
    {"Raw512", CKM_GOSTR3410_512_KEY_PAIR_GEN, {}, {}, CKM_GOSTR3410_512, 64, false, CKK_GOSTR3410_512, kTc26A512,
     kHash512, 128, nullptr},
    {"Raw512ParamSetC", CKM_GOSTR3410_512_KEY_PAIR_GEN, kTc26C512, {}, CKM_GOSTR3410_512, 64, false,
     CKK_GOSTR3410_512, kTc26C512, kHash512, 128, nullptr},
    {"Streebog512", CKM_GOSTR3410_512_KEY_PAIR_GEN, kTc26A512, kHash512, CKM_GOSTR3410_WITH_GOSTR3411_12_512, 777,
     true, CKK_GOSTR3410_512, kTc26A512, kHash512, 128, "md_gost12_512"},
};

class GostSignatureTest : public Gost2012Test, public ::testing::WithParamInterface<SignatureCase> {};

TEST_P(GostSignatureTest, KeysRecordTheirKindAndSignaturesVerifyHereAndWithOpenssl) {
    const SignatureCase& c = GetParam();
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    ASSERT_RV(CKR_OK, GeneratePair(session, c.generate, c.paramSet, c.hashParams, publicKey, privateKey));
    for (CK_OBJECT_HANDLE key : {publicKey, privateKey}) {
        EXPECT_EQ(c.keyType, UlongAttribute(session, key, CKA_KEY_TYPE));
        EXPECT_EQ(ToHex(c.recordedParams), ToHex(Attribute(session, key, CKA_GOSTR3410_PARAMS)));
        EXPECT_EQ(ToHex(c.recordedHash), ToHex(Attribute(session, key, CKA_GOSTR3411_PARAMS)));
    }
    const Bytes publicValue = Attribute(session, publicKey, CKA_VALUE);
    EXPECT_EQ(publicValue.size(), c.signatureLength);

    const CK_MECHANISM mechanism = {c.sign, nullptr, 0};
    const Bytes data = Pattern(c.dataLength, 9);
    Bytes signature;
    ASSERT_RV(CKR_OK, Sign(session, mechanism, privateKey, data, signature));
    ASSERT_EQ(signature.size(), c.signatureLength);
    EXPECT_RV(CKR_OK, Verify(session, mechanism, publicKey, data, signature));
    Bytes corrupt = signature;
    corrupt[3] ^= 0x10;
    EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, mechanism, publicKey, data, corrupt));
    EXPECT_RV(CKR_SIGNATURE_LEN_RANGE, Verify(session, mechanism, publicKey, data, Bytes(signature.begin() + 1, signature.end())));

    if (c.hashes) {
        // In parts, verified in one piece.
        CK_MECHANISM multi = mechanism;
        ASSERT_RV(CKR_OK, f->C_SignInit(session, &multi, privateKey));
        for (size_t at = 0; at < data.size(); at += 100)
            ASSERT_RV(CKR_OK, f->C_SignUpdate(session, const_cast<unsigned char*>(data.data()) + at,
                                              std::min<size_t>(100, data.size() - at)));
        Bytes parts(c.signatureLength);
        CK_ULONG length = parts.size();
        ASSERT_RV(CKR_OK, f->C_SignFinal(session, parts.data(), &length));
        EXPECT_RV(CKR_OK, Verify(session, mechanism, publicKey, data, parts));
    } else {
        EXPECT_RV(CKR_DATA_LEN_RANGE, Sign(session, mechanism, privateKey, Bytes(c.dataLength - 1, 1), signature));
        EXPECT_RV(CKR_DATA_LEN_RANGE, Sign(session, mechanism, privateKey, Bytes(c.dataLength + 1, 1), signature));
        CK_MECHANISM raw = mechanism;
        ASSERT_RV(CKR_OK, f->C_SignInit(session, &raw, privateKey));
        Bytes part(8, 1);
        EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, f->C_SignUpdate(session, part.data(), part.size()));
    }

    if (c.opensslDigest) {
        const bool is512 = c.keyType == CKK_GOSTR3410_512;
        WriteFile(Dir() + "/pub.der", Spki(is512, publicValue, c.recordedParams));
        WriteFile(Dir() + "/data", data);
        WriteFile(Dir() + "/sig", signature);
        const std::string verify = std::string("dgst -engine gost -") + c.opensslDigest + " -keyform DER -verify " +
                                   Dir() + "/pub.der -signature " + Dir() + "/sig " + Dir() + "/data";
        EXPECT_TRUE(Openssl(verify)) << verify;
        WriteFile(Dir() + "/sig", corrupt);
        EXPECT_FALSE(Openssl(verify));
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, GostSignatureTest, ::testing::ValuesIn(kSignatureCases),
                         [](const auto& info) { return std::string(info.param.name); });

// RFC 7091 section A.1: the example on the test parameter set with a 2012 key of 256 bits.
TEST_F(Gost2012Test, PublishedExampleVerifiesWithA2012Key) {
    CK_SESSION_HANDLE session = LoginUser();
    Bytes params = kTestParamSet, hash = kHash256;
    Bytes publicValue = Concat({Reversed(Hex("7f2b49e270db6d90d8595bec458b50c58585ba1d4e9b788f6689dbd8e56fd80b")),
                                Reversed(Hex("26f1b489d6701dd185c8413a977b3cbbaf64d1c593d26627dffb101a87ff77da"))});
    const Bytes e = Reversed(Hex("2dfbc1b372d89a1188c09c52e0eec61fce52032ab1022e8e67ece6672b043ee5"));
    const Bytes signature = Concat({Hex("01456c64ba4642a1653c235a98a60249bcd6d3f746b631df928014f6c5bf9c40"),
                                    Hex("41aa28d2f1ab148280cd9ed56feda41974053554a42767b83ad043fd39dc0493")});
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    CK_KEY_TYPE keyType = CKK_GOSTR3410;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_CLASS, &publicClass, sizeof publicClass},
                                     {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                     {CKA_VALUE, publicValue.data(), publicValue.size()},
                                     {CKA_GOSTR3410_PARAMS, params.data(), params.size()},
                                     {CKA_GOSTR3411_PARAMS, hash.data(), hash.size()}};
    CK_OBJECT_HANDLE publicKey = 0;
    ASSERT_RV(CKR_OK, f->C_CreateObject(session, publicTemplate, 5, &publicKey));
    EXPECT_RV(CKR_OK, Verify(session, {CKM_GOSTR3410, nullptr, 0}, publicKey, e, signature));
    EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, {CKM_GOSTR3410, nullptr, 0}, publicKey, e, Reversed(signature)));
    // A 2012 key does not take the GOST R 34.11-94 hash-then-sign mechanism.
    CK_MECHANISM with94 = {CKM_GOSTR3410_WITH_GOSTR3411, nullptr, 0};
    EXPECT_RV(CKR_KEY_TYPE_INCONSISTENT, f->C_VerifyInit(session, &with94, publicKey));
}

TEST_F(Gost2012Test, KindsAndParameterSetsThatDoNotGoTogether) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID,
              GeneratePair(session, CKM_GOSTR3410_512_KEY_PAIR_GEN, kCryptoProA, {}, publicKey, privateKey));
    EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID,
              GeneratePair(session, CKM_GOSTR3410_512_KEY_PAIR_GEN, {}, kHash256, publicKey, privateKey));
    EXPECT_RV(CKR_TEMPLATE_INCONSISTENT,
              GeneratePair(session, CKM_GOSTR3410_KEY_PAIR_GEN, {}, kHash512, publicKey, privateKey));
    EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID,
              GeneratePair(session, CKM_GOSTR3410_KEY_PAIR_GEN, kTc26A512, {}, publicKey, privateKey));

    ASSERT_RV(CKR_OK, GeneratePair(session, CKM_GOSTR3410_512_KEY_PAIR_GEN, {}, {}, publicKey, privateKey));
    for (CK_MECHANISM_TYPE type : {CKM_GOSTR3410, CKM_GOSTR3410_WITH_GOSTR3411, CKM_GOSTR3410_WITH_GOSTR3411_12_256}) {
        CK_MECHANISM other = {type, nullptr, 0};
        EXPECT_RV(CKR_KEY_TYPE_INCONSISTENT, f->C_SignInit(session, &other, privateKey)) << type;
    }
    ASSERT_RV(CKR_OK, GeneratePair(session, CKM_GOSTR3410_KEY_PAIR_GEN, {}, kHash256, publicKey, privateKey));
    CK_MECHANISM with512 = {CKM_GOSTR3410_WITH_GOSTR3411_12_512, nullptr, 0};
    EXPECT_RV(CKR_KEY_TYPE_INCONSISTENT, f->C_SignInit(session, &with512, privateKey));

    // A 512-bit key object needs values of its lengths.
    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY;
    CK_KEY_TYPE keyType = CKK_GOSTR3410_512;
    Bytes shortValue(64, 5), params = kTc26A512;
    CK_ATTRIBUTE created[] = {{CKA_CLASS, &publicClass, sizeof publicClass},
                              {CKA_KEY_TYPE, &keyType, sizeof keyType},
                              {CKA_VALUE, shortValue.data(), shortValue.size()},
                              {CKA_GOSTR3410_PARAMS, params.data(), params.size()}};
    CK_OBJECT_HANDLE object = 0;
    EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID, f->C_CreateObject(session, created, 4, &object));
}

TEST_F(Gost2012Test, DigestsAgreeWithOpensslAndRefuseParameters) {
    CK_SESSION_HANDLE session = Open(false);
    const Bytes data = Pattern(3000, 1);
    WriteFile(Dir() + "/data", data);
    for (auto [type, name] : {std::pair<CK_MECHANISM_TYPE, const char*>{CKM_GOSTR3411_12_256, "md_gost12_256"},
                              {CKM_GOSTR3411_12_512, "md_gost12_512"}, {CKM_GOSTR3411, "md_gost94"}}) {
        CK_MECHANISM mechanism = {type, nullptr, 0};
        ASSERT_RV(CKR_OK, f->C_DigestInit(session, &mechanism));
        Bytes digest(64);
        CK_ULONG length = digest.size();
        Bytes input = data;
        ASSERT_RV(CKR_OK, f->C_Digest(session, input.data(), input.size(), digest.data(), &length));
        digest.resize(length);
        ASSERT_TRUE(Openssl(std::string("dgst -engine gost -") + name + " -r " + Dir() + "/data"));
        const Bytes out = ReadFile(Dir() + "/openssl.out");
        const std::string text(out.begin(), out.end());
        EXPECT_NE(text.find(ToHex(digest) + " "), std::string::npos) << name << ": " << text;
    }
    Bytes testParams = kHash94Test, any = kHash256;
    CK_MECHANISM refused[] = {{CKM_GOSTR3411, testParams.data(), testParams.size()},
                              {CKM_GOSTR3411_12_256, any.data(), any.size()},
                              {CKM_GOSTR3411_12_512, any.data(), any.size()}};
    for (CK_MECHANISM& mechanism : refused)
        EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, f->C_DigestInit(session, &mechanism)) << mechanism.mechanism;
}

const char* const kCipherKey = "0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20";

struct CipherCase {
    const char* name;
    CK_MECHANISM_TYPE mechanism;
    const char* opensslCipher;
    Bytes sbox;
    const char* sboxText;
    const char* iv;  // empty: none given (a zero IV)
    size_t length;
};

// CKM_GOST28147 is CFB ("gost89", whose S-box openssl takes from CRYPT_PARAMS); the counter
// mode is "gost89-cnt", always with CryptoPro-A there. Over 1024 bytes the key meshing counts.
const CipherCase kCipherCases[] = {
    {"CfbA", CKM_GOST28147, "gost89", kSboxA, "1.2.643.2.2.31.1", "0011223344556677", 1100},
    {"CfbBZeroIv", CKM_GOST28147, "gost89", kSboxB, "1.2.643.2.2.31.2", "", 21},
    {"CntA", CKM_NIMB_GOST28147_CNT, "gost89-cnt", kSboxA, "1.2.643.2.2.31.1", "8877665544332211", 2049},
};

class GostCipherTest : public Gost2012Test, public ::testing::WithParamInterface<CipherCase> {};

TEST_P(GostCipherTest, OnePieceAndPartsMatchOpensslAndDecryptBack) {
    const CipherCase& c = GetParam();
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE key = 0;
    ASSERT_RV(CKR_OK, MakeGost28147(session, Hex(kCipherKey), c.sbox, key));
    const Bytes plain = Pattern(c.length, 4);
    WriteFile(Dir() + "/plain", plain);
    const std::string iv = *c.iv ? c.iv : "0000000000000000";
    const std::string command = std::string("CRYPT_PARAMS=") + c.sboxText + " openssl enc -engine gost -" +
                                c.opensslCipher + " -K " + kCipherKey + " -iv " + iv + " -in " + Dir() +
                                "/plain -out " + Dir() + "/cipher 2>/dev/null";
    ASSERT_EQ(0, std::system(command.c_str()));
    const Bytes expected = ReadFile(Dir() + "/cipher");
    ASSERT_EQ(expected.size(), plain.size());

    Bytes ivBytes = Hex(c.iv);
    CK_MECHANISM mechanism = {c.mechanism, ivBytes.empty() ? nullptr : ivBytes.data(), ivBytes.size()};
    Bytes input = plain, out(plain.size());
    CK_ULONG length = out.size();
    ASSERT_RV(CKR_OK, f->C_EncryptInit(session, &mechanism, key));
    ASSERT_RV(CKR_OK, f->C_Encrypt(session, input.data(), input.size(), out.data(), &length));
    EXPECT_EQ(ToHex(out), ToHex(expected));

    ASSERT_RV(CKR_OK, f->C_DecryptInit(session, &mechanism, key));
    Bytes back;
    for (size_t at = 0; at < expected.size(); at += 300) {
        Bytes part(expected.begin() + at, expected.begin() + std::min(at + 300, expected.size()));
        Bytes piece(part.size());
        length = piece.size();
        ASSERT_RV(CKR_OK, f->C_DecryptUpdate(session, part.data(), part.size(), piece.data(), &length));
        back.insert(back.end(), piece.begin(), piece.begin() + length);
    }
    length = 0;
    ASSERT_RV(CKR_OK, f->C_DecryptFinal(session, nullptr, &length));
    EXPECT_EQ(back, plain);
}

INSTANTIATE_TEST_SUITE_P(Modes, GostCipherTest, ::testing::ValuesIn(kCipherCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ECB's E(x) is the first block openssl's CFB gives for a zero block with x as the IV.
TEST_F(Gost2012Test, EcbBlocksAreTheCipherOpensslRunsAndPartialBlocksAreRefused) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE key = 0;
    ASSERT_RV(CKR_OK, MakeGost28147(session, Hex(kCipherKey), kSboxB, key));
    Bytes plain = Pattern(24, 7), out(24);
    CK_MECHANISM ecb = {CKM_GOST28147_ECB, nullptr, 0};
    CK_ULONG length = out.size();
    ASSERT_RV(CKR_OK, f->C_EncryptInit(session, &ecb, key));
    ASSERT_RV(CKR_OK, f->C_Encrypt(session, plain.data(), plain.size(), out.data(), &length));
    WriteFile(Dir() + "/zero", Bytes(8, 0));
    for (size_t block = 0; block < 3; ++block) {
        const Bytes x(plain.begin() + 8 * block, plain.begin() + 8 * block + 8);
        const std::string command = "CRYPT_PARAMS=1.2.643.2.2.31.2 openssl enc -engine gost -gost89 -K " +
                                    std::string(kCipherKey) + " -iv " + ToHex(x) + " -in " + Dir() + "/zero -out " +
                                    Dir() + "/block 2>/dev/null";
        ASSERT_EQ(0, std::system(command.c_str()));
        EXPECT_EQ(ToHex(ReadFile(Dir() + "/block")), ToHex(Bytes(out.begin() + 8 * block, out.begin() + 8 * block + 8)));
    }
    Bytes back(24);
    length = back.size();
    ASSERT_RV(CKR_OK, f->C_DecryptInit(session, &ecb, key));
    ASSERT_RV(CKR_OK, f->C_Decrypt(session, out.data(), out.size(), back.data(), &length));
    EXPECT_EQ(back, plain);

    length = out.size();
    ASSERT_RV(CKR_OK, f->C_EncryptInit(session, &ecb, key));
    EXPECT_RV(CKR_DATA_LEN_RANGE, f->C_Encrypt(session, plain.data(), 20, out.data(), &length));
    length = back.size();
    ASSERT_RV(CKR_OK, f->C_DecryptInit(session, &ecb, key));
    EXPECT_RV(CKR_ENCRYPTED_DATA_LEN_RANGE, f->C_Decrypt(session, out.data(), 12, back.data(), &length));

    Bytes iv(8, 1), shortIv(7, 1);
    CK_MECHANISM refused[] = {{CKM_GOST28147_ECB, iv.data(), iv.size()},
                              {CKM_GOST28147, shortIv.data(), shortIv.size()},
                              {CKM_NIMB_GOST28147_CNT, shortIv.data(), shortIv.size()}};
    for (CK_MECHANISM& mechanism : refused)
        EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, f->C_EncryptInit(session, &mechanism, key)) << mechanism.mechanism;
}

TEST_F(Gost2012Test, EcbWrapsSecretAndPrivateKeysThatAreWholeBlocks) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE wrapping = 0, secret = 0;
    ASSERT_RV(CKR_OK, MakeGost28147(session, Hex(kCipherKey), kSboxA, wrapping));
    const Bytes secretValue = Pattern(32, 99);
    ASSERT_RV(CKR_OK, MakeGost28147(session, secretValue, kSboxA, secret));
    CK_MECHANISM ecb = {CKM_GOST28147_ECB, nullptr, 0};
    Bytes wrapped(64);
    CK_ULONG length = wrapped.size();
    ASSERT_RV(CKR_OK, f->C_WrapKey(session, &ecb, wrapping, secret, wrapped.data(), &length));
    ASSERT_EQ(length, 32u);
    EXPECT_NE(Bytes(wrapped.begin(), wrapped.begin() + 32), secretValue);
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE gost28147 = CKK_GOST28147;
    CK_ATTRIBUTE secretTemplate[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                     {CKA_KEY_TYPE, &gost28147, sizeof gost28147},
                                     {CKA_SENSITIVE, &Value::False, 1},
                                     {CKA_EXTRACTABLE, &Value::True, 1}};
    CK_OBJECT_HANDLE unwrapped = 0;
    ASSERT_RV(CKR_OK, f->C_UnwrapKey(session, &ecb, wrapping, wrapped.data(), length, secretTemplate, 4, &unwrapped));
    EXPECT_EQ(Attribute(session, unwrapped, CKA_VALUE), secretValue);

    // A 2012 private key on a CryptoPro set is 72 bytes of PKCS#8: it comes back and signs.
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    ASSERT_RV(CKR_OK, GeneratePair(session, CKM_GOSTR3410_KEY_PAIR_GEN, kCryptoProA, kHash256, publicKey, privateKey));
    wrapped.assign(200, 0);
    length = wrapped.size();
    ASSERT_RV(CKR_OK, f->C_WrapKey(session, &ecb, wrapping, privateKey, wrapped.data(), &length));
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE gost = CKK_GOSTR3410;
    CK_ATTRIBUTE privateTemplate[] = {{CKA_CLASS, &privateClass, sizeof privateClass},
                                      {CKA_KEY_TYPE, &gost, sizeof gost},
                                      {CKA_SIGN, &Value::True, 1}};
    ASSERT_RV(CKR_OK, f->C_UnwrapKey(session, &ecb, wrapping, wrapped.data(), length, privateTemplate, 3, &unwrapped));
    EXPECT_EQ(ToHex(Attribute(session, unwrapped, CKA_GOSTR3411_PARAMS)), ToHex(kHash256));
    const CK_MECHANISM streebog = {CKM_GOSTR3410_WITH_GOSTR3411_12_256, nullptr, 0};
    Bytes signature;
    ASSERT_RV(CKR_OK, Sign(session, streebog, unwrapped, Bytes(50, 'x'), signature));
    EXPECT_RV(CKR_OK, Verify(session, streebog, publicKey, Bytes(50, 'x'), signature));
    // As a 512-bit key the template contradicts what was wrapped; a damaged one is refused.
    CK_KEY_TYPE gost512 = CKK_GOSTR3410_512;
    privateTemplate[1] = {CKA_KEY_TYPE, &gost512, sizeof gost512};
    EXPECT_RV(CKR_TEMPLATE_INCONSISTENT,
              f->C_UnwrapKey(session, &ecb, wrapping, wrapped.data(), length, privateTemplate, 3, &unwrapped));
    privateTemplate[1] = {CKA_KEY_TYPE, &gost, sizeof gost};
    wrapped[0] ^= 0x55;
    EXPECT_RV(CKR_WRAPPED_KEY_INVALID,
              f->C_UnwrapKey(session, &ecb, wrapping, wrapped.data(), length, privateTemplate, 3, &unwrapped));
    EXPECT_RV(CKR_WRAPPED_KEY_LEN_RANGE,
              f->C_UnwrapKey(session, &ecb, wrapping, wrapped.data(), length - 3, privateTemplate, 3, &unwrapped));

    // A 512-bit key's 106 bytes are no whole number of blocks.
    ASSERT_RV(CKR_OK, GeneratePair(session, CKM_GOSTR3410_512_KEY_PAIR_GEN, {}, {}, publicKey, privateKey));
    length = wrapped.size();
    EXPECT_RV(CKR_KEY_SIZE_RANGE, f->C_WrapKey(session, &ecb, wrapping, privateKey, wrapped.data(), &length));
}

}  // namespace
}  // namespace softtoken_test
