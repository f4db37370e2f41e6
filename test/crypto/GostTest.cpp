// GOST R 34.10-2001 signatures and GOST 28147-89 MACs against published known answers.
#include "TestSupport.h"
#include "crypto/Gost28147.h"
#include "crypto/GostR3410.h"

#include <gtest/gtest.h>

#include <functional>

namespace crypto::test {
namespace {

struct MacCase {
    const char* name;
    const char* key;
    const char* data;
    const char* mac;
};

void PrintTo(const MacCase& c, std::ostream* out) { *out << c.name; }

// Four vectors computed by an independent implementation, the empty-data rule, and the
// utility's own constant (the key and phrase it stores and MACs on every pass).
const MacCase kMacCases[] = {
    {"SixteenBytes", "9d05b79e90cad00a2cdad22ef4e86f5cf5dc37681985b3bfaa18c1c3050a91a2",
     "b5a1f0e3ce2f021d676194345c41e36e", "f81f08a3"},
    {"OneBlock", "423581910ba999ffd943f8c619551f2f2d4540201e1d327ab1076b4f4590d980",
     "f3b229d27a370312", "6e15fae8"},
    {"PartialBlock", "b06c48230a6ef4ec27980123a7d8bf6089efade88f79148c185c9adaef0bdda0",
     "ef068f14c904", "e972aebf"},
    {"TenBytes", "a9b637cc6d9b2f25b0df47045068b0274127586abd0a6e502fc6fcc03e2942a5",
     "1debe6790a5900e68e5c", "317c16e4"},
    {"Empty", "26cbb9f00c629faa4a1db6300901568966d4e40efef6106b6ce8043ae3614b19", "", "00000000"},
    {"UtilityConstant", "2c1a7f3e9b4d6e8f0a5b3c2d1e4f6a7b8c9d0e1f2a3b4c5d6e7f8091a2b3c4d5",
     "c2f1b820f1eef1f2e0e2edeee520ede5efeef1f2eeffededee", "0d7fd089"},
};

class GostMacKnownAnswer : public ::testing::TestWithParam<MacCase> {};

TEST_P(GostMacKnownAnswer, MatchesWithDefaultAndExplicitParamSetAndZeroIv) {
    const MacCase& c = GetParam();
    Bytes expected = Hex(c.mac);
    EXPECT_EQ(ToHex(Gost28147::Mac(Hex(c.key), {}, {}, Hex(c.data))), c.mac);
    EXPECT_EQ(Gost28147::Mac(Hex(c.key), Gost28147::DefaultParamsOid(), {}, Hex(c.data)), expected);
    EXPECT_EQ(Gost28147::Mac(Hex(c.key), {}, Bytes(8, 0), Hex(c.data)), expected);
}

INSTANTIATE_TEST_SUITE_P(Vectors, GostMacKnownAnswer, ::testing::ValuesIn(kMacCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GostMac, ParamSetSelectsTheSBox) {
    Bytes key = Hex(kMacCases[5].key), data = Hex(kMacCases[5].data);
    Bytes a = Gost28147::Mac(key, {}, {}, data);
    Bytes b = Gost28147::Mac(key, Hex("06072a850302021f02"), {}, data);
    Bytes c = Gost28147::Mac(key, Hex("06072a850302021f03"), {}, data);
    EXPECT_NE(a, b);
    EXPECT_NE(b, c);
    EXPECT_NE(a, c);
}

TEST(GostMac, LongDataIsDeterministicAndDependsOnEveryBlock) {
    // Past 1024 bytes the engine meshes the key; the MAC must still cover the whole input.
    Bytes key = Hex(kMacCases[0].key);
    Bytes data(4096, 0x5A);
    Bytes mac = Gost28147::Mac(key, {}, {}, data);
    EXPECT_EQ(Gost28147::Mac(key, {}, {}, data), mac);
    data[4000] ^= 1;
    EXPECT_NE(Gost28147::Mac(key, {}, {}, data), mac);
}

struct MacError {
    const char* name;
    Bytes key, params, iv;
    CK_RV rv;
};

TEST(GostMac, RefusesWhatItCannotHonour) {
    Bytes key(32, 1);
    const MacError cases[] = {
        {"short key", Bytes(31, 1), {}, {}, CKR_KEY_SIZE_RANGE},
        {"long key", Bytes(33, 1), {}, {}, CKR_KEY_SIZE_RANGE},
        {"nonzero iv", key, {}, Hex("0102030405060708"), CKR_MECHANISM_PARAM_INVALID},
        {"short iv", key, {}, Bytes(7, 0), CKR_MECHANISM_PARAM_INVALID},
        {"long iv", key, {}, Bytes(9, 0), CKR_MECHANISM_PARAM_INVALID},
        {"unknown params", key, Hex("06072a850302022301"), {}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"not an oid", key, Hex("0400"), {}, CKR_ATTRIBUTE_VALUE_INVALID},
    };
    for (const MacError& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            Gost28147::Mac(c.key, c.params, c.iv, Bytes(25, 7));
            ADD_FAILURE() << "no error";
        } catch (const CryptoError& e) {
            EXPECT_EQ(e.Rv(), c.rv);
        }
    }
}

// RFC 5832, section 7.1, test parameter set 1.2.643.2.2.35.0; values big-endian there.
const char* const kTestParamSet = "06072a850302022300";
const char* const kRfcD = "7a929ade789bb9be10ed359dd39a72c11b60961f49397eee1d19ce9891ec3b28";
const char* const kRfcQx = "7f2b49e270db6d90d8595bec458b50c58585ba1d4e9b788f6689dbd8e56fd80b";
const char* const kRfcQy = "26f1b489d6701dd185c8413a977b3cbbaf64d1c593d26627dffb101a87ff77da";
const char* const kRfcE = "2dfbc1b372d89a1188c09c52e0eec61fce52032ab1022e8e67ece6672b043ee5";
const char* const kRfcR = "41aa28d2f1ab148280cd9ed56feda41974053554a42767b83ad043fd39dc0493";
const char* const kRfcS = "01456c64ba4642a1653c235a98a60249bcd6d3f746b631df928014f6c5bf9c40";
const char* const kTestQ = "8000000000000000000000000000000150fe8a1892976154c59cfc193accf5b3";

Bytes RfcPublicValue() {
    Bytes value = Reversed(Hex(kRfcQx));
    Bytes y = Reversed(Hex(kRfcQy));
    value.insert(value.end(), y.begin(), y.end());
    return value;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(GostR3410Rfc, PublicValueFromPrivateValue) {
    EXPECT_EQ(ToHex(GostR3410::PublicFromPrivate(Reversed(Hex(kRfcD)), Hex(kTestParamSet))),
              ToHex(RfcPublicValue()));
}

TEST(GostR3410Rfc, VerifiesThePublishedSignature) {
    Bytes hash = Reversed(Hex(kRfcE));
    Bytes signature = Concat(Hex(kRfcS), Hex(kRfcR));
    EXPECT_EQ(GostR3410::Verify(RfcPublicValue(), Hex(kTestParamSet), hash, signature), CKR_OK);
    // Swapped halves, a changed hash or a changed bit are all wrong signatures.
    EXPECT_EQ(GostR3410::Verify(RfcPublicValue(), Hex(kTestParamSet), hash, Concat(Hex(kRfcR), Hex(kRfcS))),
              CKR_SIGNATURE_INVALID);
    Bytes otherHash = hash;
    otherHash[0] ^= 1;
    EXPECT_EQ(GostR3410::Verify(RfcPublicValue(), Hex(kTestParamSet), otherHash, signature), CKR_SIGNATURE_INVALID);
    for (size_t at : {0u, 31u, 32u, 63u}) {
        Bytes bad = signature;
        bad[at] ^= 0x10;
        EXPECT_EQ(GostR3410::Verify(RfcPublicValue(), Hex(kTestParamSet), hash, bad), CKR_SIGNATURE_INVALID) << at;
    }
}

TEST(GostR3410Rfc, RejectsOutOfRangeHalvesBeforeTheEngine) {
    Bytes hash = Reversed(Hex(kRfcE));
    Bytes zero(32, 0);
    const std::pair<Bytes, Bytes> cases[] = {
        {Hex(kTestQ), Hex(kRfcR)}, {Hex(kRfcS), Hex(kTestQ)}, {zero, Hex(kRfcR)}, {Hex(kRfcS), zero},
        {Bytes(32, 0xFF), Hex(kRfcR)}};
    for (const auto& [s, r] : cases)
        EXPECT_EQ(GostR3410::Verify(RfcPublicValue(), Hex(kTestParamSet), hash, Concat(s, r)), CKR_SIGNATURE_INVALID);
}

TEST(GostR3410Rfc, SignsWithThePublishedKey) {
    GostKeyComponents key{Reversed(Hex(kRfcD)), RfcPublicValue(), Hex(kTestParamSet), GostR3410::DefaultHashParamsOid()};
    Bytes hash = Reversed(Hex(kRfcE));
    Bytes signature = GostR3410::Sign(key, hash);
    ASSERT_EQ(signature.size(), 64u);
    EXPECT_EQ(GostR3410::Verify(key.publicValue, key.paramsOid, hash, signature), CKR_OK);
    EXPECT_NE(GostR3410::Sign(key, hash), signature) << "k must be random";
}

class GostR3410ParamSets : public ::testing::TestWithParam<const char*> {};

TEST_P(GostR3410ParamSets, GeneratedKeysSignAndVerify) {
    Bytes params = Hex(GetParam());
    GostKeyComponents key = GostR3410::Generate(params);
    EXPECT_EQ(key.privateValue.size(), 32u);
    EXPECT_EQ(key.publicValue.size(), 64u);
    EXPECT_EQ(key.paramsOid, params);
    EXPECT_EQ(key.hashParamsOid, Hex("06072a850302021e01"));
    EXPECT_EQ(GostR3410::PublicFromPrivate(key.privateValue, params), key.publicValue);
    Bytes hash(32);
    for (size_t i = 0; i < hash.size(); ++i) hash[i] = static_cast<unsigned char>(i * 7 + 1);
    Bytes signature = GostR3410::Sign(key, hash);
    EXPECT_EQ(GostR3410::Verify(key.publicValue, params, hash, signature), CKR_OK);
    hash[5] ^= 0x80;
    EXPECT_EQ(GostR3410::Verify(key.publicValue, params, hash, signature), CKR_SIGNATURE_INVALID);
}

INSTANTIATE_TEST_SUITE_P(Rfc4357, GostR3410ParamSets,
                         ::testing::Values("06072a850302022300", "06072a850302022301", "06072a850302022302",
                                           "06072a850302022303", "06072a850302022400", "06072a850302022401"));

TEST(GostR3410, DefaultsToCryptoProA) {
    GostKeyComponents key = GostR3410::Generate({});
    EXPECT_EQ(key.paramsOid, Hex("06072a850302022301"));
    EXPECT_EQ(key.paramsOid, GostR3410::DefaultParamsOid());
    EXPECT_EQ(key.hashParamsOid, GostR3410::DefaultHashParamsOid());
    EXPECT_NE(GostR3410::Generate({}).privateValue, key.privateValue);
}

TEST(GostR3410, WrongLengthsAndValuesGiveCodesNotAborts) {
    GostKeyComponents key = GostR3410::Generate({});
    Bytes params = key.paramsOid;
    Bytes signature = GostR3410::Sign(key, Bytes(32, 1));
    for (size_t length : {0u, 1u, 31u, 33u, 64u}) {
        SCOPED_TRACE(length);
        EXPECT_EQ(ErrorOf([&] { GostR3410::Sign(key, Bytes(length, 1)); }), CKR_DATA_LEN_RANGE);
        EXPECT_EQ(ErrorOf([&] { GostR3410::Verify(key.publicValue, params, Bytes(length, 1), signature); }),
                  CKR_DATA_LEN_RANGE);
    }
    for (size_t length : {0u, 32u, 63u, 65u, 128u})
        EXPECT_EQ(GostR3410::Verify(key.publicValue, params, Bytes(32, 1), Bytes(length, 1)), CKR_SIGNATURE_LEN_RANGE);

    EXPECT_EQ(ErrorOf([] { GostR3410::Generate(Hex("06072a850302021f01")); }), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(ErrorOf([] { GostR3410::Generate(Hex("0603")); }), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_FALSE(GostR3410::IsKnownParamSet(Hex("06072a850302021f01")));
    EXPECT_TRUE(GostR3410::IsKnownParamSet(params));

    GostKeyComponents shortKey = key;
    shortKey.privateValue.pop_back();
    EXPECT_EQ(ErrorOf([&] { GostR3410::Sign(shortKey, Bytes(32, 1)); }), CKR_ATTRIBUTE_VALUE_INVALID);
    GostKeyComponents zeroKey = key;
    zeroKey.privateValue.assign(32, 0);
    EXPECT_EQ(ErrorOf([&] { GostR3410::Sign(zeroKey, Bytes(32, 1)); }), CKR_ATTRIBUTE_VALUE_INVALID);
    GostKeyComponents largeKey = key;
    largeKey.privateValue.assign(32, 0xFF);  // above q
    EXPECT_EQ(ErrorOf([&] { GostR3410::Sign(largeKey, Bytes(32, 1)); }), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(ErrorOf([&] { GostR3410::PublicFromPrivate(largeKey.privateValue, params); }), CKR_ATTRIBUTE_VALUE_INVALID);
    Bytes offCurve = key.publicValue;
    offCurve[0] ^= 1;
    EXPECT_EQ(ErrorOf([&] { GostR3410::Verify(offCurve, params, Bytes(32, 1), signature); }),
              CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(ErrorOf([&] { GostR3410::Verify(Bytes(63, 1), params, Bytes(32, 1), signature); }),
              CKR_ATTRIBUTE_VALUE_INVALID);
}

}  // namespace
}  // namespace crypto::test
