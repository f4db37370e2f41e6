// AES through the function list: SP 800-38A (ECB, CBC, CTR), the GCM paper's test cases,
// SP 800-38B (CMAC), RFC 3394 and RFC 5649 known answers, single-part and in uneven pieces;
// the length rules, padding and tag failures, parameters, key wrapping, generation and use.
#include "CipherTestSupport.h"

#include <cstdlib>
#include <fstream>

namespace softtoken_test {
namespace {

const char* const kKey128 = "2b7e151628aed2a6abf7158809cf4f3c";
const char* const kKey256 = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
const char* const kIv = "000102030405060708090a0b0c0d0e0f";
const char* const kPlain =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
const char* const kGcmKey = "feffe9928665731c6d6a8f9467308308";
const char* const kGcmPlain =
    "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b39";
const char* const kGcmAad = "feedfacedeadbeeffeedfacedeadbeefabaddad2";

// A mechanism with its parameter kept alive: CBC's IV, CTR's counter block, GCM's IV and AAD.
struct Mechanism {
    enum Kind { None, Iv, Ctr, Gcm };
    Mechanism(CK_MECHANISM_TYPE type, Kind kind = None, const std::string& iv = "", const std::string& aad = "",
              CK_ULONG tagBits = 128, CK_ULONG counterBits = 128)
        : iv(Hex(iv)), aad(Hex(aad)) {
        mechanism = {type, nullptr, 0};
        if (kind == Iv) mechanism = {type, this->iv.data(), this->iv.size()};
        if (kind == Ctr) {
            ctr.ulCounterBits = counterBits;
            std::copy(this->iv.begin(), this->iv.end(), ctr.cb);
            mechanism = {type, &ctr, sizeof ctr};
        }
        if (kind == Gcm) {
            gcm = {this->iv.data(), this->iv.size(), this->iv.size() * 8, this->aad.data(), this->aad.size(), tagBits};
            mechanism = {type, &gcm, sizeof gcm};
        }
    }
    Mechanism(const Mechanism&) = delete;
    Bytes iv, aad;
    CK_AES_CTR_PARAMS ctr = {};
    CK_GCM_PARAMS gcm = {};
    CK_MECHANISM mechanism;
};

struct Known {
    const char* name;
    CK_MECHANISM_TYPE type;
    Mechanism::Kind kind;
    const char* key;
    const char* iv;
    const char* aad;
    const char* plain;
    const char* encrypted;
};

const Known kKnown[] = {
    {"ECB-AES128", CKM_AES_ECB, Mechanism::None, kKey128, "", "", kPlain,
     "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4"},
    {"ECB-AES192", CKM_AES_ECB, Mechanism::None, "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b", "", "", kPlain,
     "bd334f1d6e45f25ff712a214571fa5cc974104846d0ad3ad7734ecb3ecee4eefef7afd2270e2e60adce0ba2face6444e9a4b41ba738d6c72fb16691603c18e0e"},
    {"CBC-AES128", CKM_AES_CBC, Mechanism::Iv, kKey128, kIv, "", kPlain,
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b273bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
    {"CBC-AES256", CKM_AES_CBC, Mechanism::Iv, kKey256, kIv, "", kPlain,
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"},
    {"CBC-PAD-AES128, 37 bytes", CKM_AES_CBC_PAD, Mechanism::Iv, kKey128, kIv, "",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a3",
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b25dd91dde9c980257336717a3c680d405"},
    {"CTR-AES128", CKM_AES_CTR, Mechanism::Ctr, kKey128, "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff", "", kPlain,
     "874d6191b620e3261bef6864990db6ce9806f66b7970fdff8617187bb9fffdff5ae4df3edbd5d35e5b4f09020db03eab1e031dda2fbe03d1792170a0f3009cee"},
    {"CTR-AES128, 37 bytes", CKM_AES_CTR, Mechanism::Ctr, kKey128, "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff", "",
     "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a3",
     "874d6191b620e3261bef6864990db6ce9806f66b7970fdff8617187bb9fffdff5ae4df3edb"},
    {"GCM test case 2", CKM_AES_GCM, Mechanism::Gcm, "00000000000000000000000000000000", "000000000000000000000000", "",
     "00000000000000000000000000000000", "0388dace60b6a392f328c2b971b2fe78ab6e47d42cec13bdf53a67b21257bddf"},
    {"GCM test case 1, no data", CKM_AES_GCM, Mechanism::Gcm, "00000000000000000000000000000000",
     "000000000000000000000000", "", "", "58e2fccefa7e3061367f1d57a4e7455a"},
    {"GCM test case 4", CKM_AES_GCM, Mechanism::Gcm, kGcmKey, "cafebabefacedbaddecaf888", kGcmAad, kGcmPlain,
     "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac973d58e091"
     "5bc94fbc3221a5db94fae95ae7121a47"},
    {"GCM test case 5, 64-bit IV", CKM_AES_GCM, Mechanism::Gcm, kGcmKey, "cafebabefacedbad", kGcmAad, kGcmPlain,
     "61353b4c2806934a777ff51fa22a4755699b2a714fcdc6f83766e5f97b6c742373806900e49f24b22b097544d4896b424989b5e1ebac0f07c23f4598"
     "3612d2e79e3b0785561be14aaca2fccb"},
    {"GCM test case 16, AES-256", CKM_AES_GCM, Mechanism::Gcm,
     "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888", kGcmAad, kGcmPlain,
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a0abcc9f662"
     "76fc6ece0f4e1768cddf8853bb2d551b"},
    {"RFC 3394 4.1", CKM_AES_KEY_WRAP, Mechanism::None, "000102030405060708090a0b0c0d0e0f", "", "",
     "00112233445566778899aabbccddeeff", "1fa68b0a8112b447aef34bd8fb5a7b829d3e862371d2cfe5"},
    {"RFC 3394 4.6", CKM_AES_KEY_WRAP, Mechanism::None, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "", "", "00112233445566778899aabbccddeeff000102030405060708090a0b0c0d0e0f",
     "28c9f404c4b810f4cbccb35cfb87f8263f5786e2d80ed326cbc7f0e71a99f43bfb988b9b7a02dd21"},
    {"RFC 5649 20 bytes", CKM_AES_KEY_WRAP_PAD, Mechanism::None, "5840df6e29b02af1ab493b705bf16ea1ae8338f4dcc176a8", "", "",
     "c37b7e6492584340bed12207808941155068f738", "138bdeaa9b8fa7fc61f97742e72248ee5ae6ae5360d1ae6a5f54f373fa543b6a"},
    {"RFC 5649 7 bytes", CKM_AES_KEY_WRAP_PAD, Mechanism::None, "5840df6e29b02af1ab493b705bf16ea1ae8338f4dcc176a8", "", "",
     "466f7250617369", "afbeb0f07dfbf5419200f2ccb50bb24f"},
};

class AesTest : public CipherTest {};

TEST_F(AesTest, KnownAnswersInOnePieceAndInUnevenParts) {
    CK_SESSION_HANDLE session = LoginUser();
    for (const Known& known : kKnown) {
        SCOPED_TRACE(known.name);
        const CK_OBJECT_HANDLE key = SecretKey(session, CKK_AES, Hex(known.key));
        const Mechanism m(known.type, known.kind, known.iv, known.aad);
        const Bytes plain = Hex(known.plain), encrypted = Hex(known.encrypted);
        Bytes out;
        ASSERT_RV(CKR_OK, OneShot(false, session, m.mechanism, key, plain, out));
        EXPECT_EQ(encrypted, out);
        ASSERT_RV(CKR_OK, OneShot(true, session, m.mechanism, key, encrypted, out));
        EXPECT_EQ(plain, out);
        const bool wrap = known.type == CKM_AES_KEY_WRAP || known.type == CKM_AES_KEY_WRAP_PAD;
        EXPECT_RV(wrap ? CKR_FUNCTION_NOT_SUPPORTED : CKR_OK, Parts(false, session, m.mechanism, key, plain, {1, 0, 18, 7}, out));
        if (wrap) continue;
        EXPECT_EQ(encrypted, out);
        ASSERT_RV(CKR_OK, Parts(true, session, m.mechanism, key, encrypted, {5, 16, 3}, out));
        EXPECT_EQ(plain, out);
    }
}

// Data that is not whole blocks, padding that does not check out, tags that do not match.
TEST_F(AesTest, RefusedLengthsPaddingAndTags) {
    CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE key = SecretKey(session, CKK_AES, Hex(kKey128));
    Bytes endingInZero(16, 0x10), endingInSeventeen(16, 0x11), blockEndingInZero, blockEndingInSeventeen, withTag;
    endingInZero[15] = 0;
    {
        const Mechanism cbc(CKM_AES_CBC, Mechanism::Iv, kIv);
        ASSERT_RV(CKR_OK, OneShot(false, session, cbc.mechanism, key, endingInZero, blockEndingInZero));
        ASSERT_RV(CKR_OK, OneShot(false, session, cbc.mechanism, key, endingInSeventeen, blockEndingInSeventeen));
        const Mechanism gcm(CKM_AES_GCM, Mechanism::Gcm, "cafebabefacedbaddecaf888", kGcmAad);
        ASSERT_RV(CKR_OK, OneShot(false, session, gcm.mechanism, key, Hex(kGcmPlain), withTag));
    }
    Bytes flippedTag = withTag, flippedText = withTag;
    flippedTag.back() ^= 1;
    flippedText[3] ^= 0x80;
    struct Case {
        const char* name;
        CK_MECHANISM_TYPE type;
        Mechanism::Kind kind;
        bool decrypt;
        Bytes input;
        CK_RV expected;
        const char* aad;
    };
    const Case cases[] = {
        {"ECB, 15 bytes", CKM_AES_ECB, Mechanism::None, false, Bytes(15), CKR_DATA_LEN_RANGE, ""},
        {"ECB decrypt, 17 bytes", CKM_AES_ECB, Mechanism::None, true, Bytes(17), CKR_ENCRYPTED_DATA_LEN_RANGE, ""},
        {"CBC, 33 bytes", CKM_AES_CBC, Mechanism::Iv, false, Bytes(33), CKR_DATA_LEN_RANGE, ""},
        {"CBC decrypt, 8 bytes", CKM_AES_CBC, Mechanism::Iv, true, Bytes(8), CKR_ENCRYPTED_DATA_LEN_RANGE, ""},
        {"CBC-PAD decrypt, 31 bytes", CKM_AES_CBC_PAD, Mechanism::Iv, true, Bytes(31), CKR_ENCRYPTED_DATA_LEN_RANGE, ""},
        {"CBC-PAD decrypt, nothing", CKM_AES_CBC_PAD, Mechanism::Iv, true, Bytes(), CKR_ENCRYPTED_DATA_LEN_RANGE, ""},
        {"CBC-PAD, pad byte 0", CKM_AES_CBC_PAD, Mechanism::Iv, true, blockEndingInZero, CKR_ENCRYPTED_DATA_INVALID, ""},
        {"CBC-PAD, pad byte 17", CKM_AES_CBC_PAD, Mechanism::Iv, true, blockEndingInSeventeen, CKR_ENCRYPTED_DATA_INVALID, ""},
        {"GCM, tag changed", CKM_AES_GCM, Mechanism::Gcm, true, flippedTag, CKR_ENCRYPTED_DATA_INVALID, kGcmAad},
        {"GCM, text changed", CKM_AES_GCM, Mechanism::Gcm, true, flippedText, CKR_ENCRYPTED_DATA_INVALID, kGcmAad},
        {"GCM, other AAD", CKM_AES_GCM, Mechanism::Gcm, true, withTag, CKR_ENCRYPTED_DATA_INVALID, "feedface"},
        {"GCM, shorter than the tag", CKM_AES_GCM, Mechanism::Gcm, true, Bytes(15), CKR_ENCRYPTED_DATA_LEN_RANGE, kGcmAad},
        {"key wrap, 8 bytes", CKM_AES_KEY_WRAP, Mechanism::None, false, Bytes(8), CKR_DATA_LEN_RANGE, ""},
        {"key wrap, 20 bytes", CKM_AES_KEY_WRAP, Mechanism::None, false, Bytes(20), CKR_DATA_LEN_RANGE, ""},
        {"key unwrap, 16 bytes", CKM_AES_KEY_WRAP, Mechanism::None, true, Bytes(16), CKR_ENCRYPTED_DATA_LEN_RANGE, ""},
        {"key unwrap, wrong check", CKM_AES_KEY_WRAP, Mechanism::None, true, Bytes(24, 7), CKR_ENCRYPTED_DATA_INVALID, ""},
        {"padded key wrap, nothing", CKM_AES_KEY_WRAP_PAD, Mechanism::None, false, Bytes(), CKR_DATA_LEN_RANGE, ""},
        {"padded key unwrap, wrong check", CKM_AES_KEY_WRAP_PAD, Mechanism::None, true, Bytes(16, 7), CKR_ENCRYPTED_DATA_INVALID, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool gcm = c.kind == Mechanism::Gcm;
        const Mechanism m(c.type, c.kind, gcm ? "cafebabefacedbaddecaf888" : c.kind == Mechanism::Iv ? kIv : "", c.aad);
        Bytes out = {1};
        EXPECT_RV(c.expected, OneShot(c.decrypt, session, m.mechanism, key, c.input, out));
        EXPECT_TRUE(out.empty());
        // The failed call ended the operation.
        CK_ULONG length = 0;
        auto call = c.decrypt ? f->C_Decrypt : f->C_Encrypt;
        EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, call(session, nullptr, 0, nullptr, &length));
        if (c.type == CKM_AES_KEY_WRAP || c.type == CKM_AES_KEY_WRAP_PAD) continue;
        EXPECT_RV(c.expected, Parts(c.decrypt, session, m.mechanism, key, c.input, {7}, out));
    }
}

// Updates give whole blocks only; a padded decryption and GCM decryption hold back.
TEST_F(AesTest, UpdatesReleaseOnlyWhatIsFinished) {
    CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE key = SecretKey(session, CKK_AES, Hex(kKey128));
    struct Case {
        CK_MECHANISM_TYPE type;
        Mechanism::Kind kind;
        bool decrypt;
        size_t in;
        CK_ULONG out;
    };
    const Case cases[] = {{CKM_AES_CBC, Mechanism::Iv, false, 20, 16},   {CKM_AES_ECB, Mechanism::None, true, 31, 16},
                          {CKM_AES_CBC_PAD, Mechanism::Iv, false, 32, 32}, {CKM_AES_CBC_PAD, Mechanism::Iv, true, 32, 16},
                          {CKM_AES_CTR, Mechanism::Ctr, false, 5, 5},     {CKM_AES_GCM, Mechanism::Gcm, true, 40, 0},
                          {CKM_AES_GCM, Mechanism::Gcm, false, 40, 40}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const Mechanism m(c.type, c.kind, c.kind == Mechanism::Gcm ? "cafebabefacedbaddecaf888" : kIv);
        ASSERT_RV(CKR_OK, c.decrypt ? f->C_DecryptInit(session, const_cast<CK_MECHANISM*>(&m.mechanism), key)
                                    : f->C_EncryptInit(session, const_cast<CK_MECHANISM*>(&m.mechanism), key));
        Bytes in(c.in, 0x42), out(128);
        CK_ULONG length = out.size();
        auto update = c.decrypt ? f->C_DecryptUpdate : f->C_EncryptUpdate;
        ASSERT_RV(CKR_OK, update(session, in.data(), in.size(), out.data(), &length));
        EXPECT_EQ(c.out, length);
        auto final = c.decrypt ? f->C_DecryptFinal : f->C_EncryptFinal;
        length = out.size();
        final(session, out.data(), &length);
    }
}

TEST_F(AesTest, MechanismParametersAreChecked) {
    CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE key = SecretKey(session, CKK_AES, Hex(kKey128));
    Bytes iv15(15), iv16(16), wrapIv5(5);
    CK_AES_CTR_PARAMS ctr0 = {0, {}}, ctr129 = {129, {}};
    Bytes gcmIv(12);
    CK_GCM_PARAMS tag0 = {gcmIv.data(), 12, 96, nullptr, 0, 0}, tag100 = {gcmIv.data(), 12, 96, nullptr, 0, 100};
    CK_GCM_PARAMS noIv = {nullptr, 0, 0, nullptr, 0, 128}, nullIv = {nullptr, 12, 96, nullptr, 0, 128};
    CK_GCM_PARAMS nullAad = {gcmIv.data(), 12, 96, nullptr, 4, 128};
    CK_ULONG macLength17 = 17, macLength0 = 0;
    const CK_MECHANISM refused[] = {
        {CKM_AES_ECB, iv16.data(), 16},       {CKM_AES_CBC, iv15.data(), 15},
        {CKM_AES_CBC_PAD, nullptr, 0},        {CKM_AES_CTR, &ctr0, sizeof ctr0},
        {CKM_AES_CTR, &ctr129, sizeof ctr129}, {CKM_AES_CTR, iv16.data(), 16},
        {CKM_AES_GCM, &tag0, sizeof tag0},    {CKM_AES_GCM, &tag100, sizeof tag100},
        {CKM_AES_GCM, &noIv, sizeof noIv},    {CKM_AES_GCM, &nullIv, sizeof nullIv},
        {CKM_AES_GCM, &nullAad, sizeof nullAad}, {CKM_AES_GCM, &tag0, sizeof tag0 - 1},
        {CKM_AES_KEY_WRAP, wrapIv5.data(), 5}, {CKM_AES_KEY_WRAP_PAD, iv16.data(), 8},
    };
    for (const CK_MECHANISM& mechanism : refused) {
        SCOPED_TRACE(mechanism.mechanism);
        CK_MECHANISM m = mechanism;
        EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, f->C_EncryptInit(session, &m, key));
    }
    for (CK_ULONG* length : {&macLength17, &macLength0}) {
        CK_MECHANISM m = {CKM_AES_CMAC_GENERAL, length, sizeof *length};
        EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, f->C_SignInit(session, &m, key));
    }
    // The GCM parameters of later headers, without ulIvBits, are read as well.
    struct { CK_BYTE_PTR iv; CK_ULONG ivLength; CK_BYTE_PTR aad; CK_ULONG aadLength; CK_ULONG tagBits; } later = {
        gcmIv.data(), 12, nullptr, 0, 128};
    CK_MECHANISM laterGcm = {CKM_AES_GCM, &later, sizeof later};
    Bytes out;
    ASSERT_RV(CKR_OK, OneShot(false, session, laterGcm, key, Bytes(16), out));
    EXPECT_EQ(32u, out.size());
}

// The counter's low ulCounterBits may not wrap: with one bit, two blocks from a zero counter.
TEST_F(AesTest, CounterSpaceIsKept) {
    CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE key = SecretKey(session, CKK_AES, Hex(kKey128));
    const Mechanism fromZero(CKM_AES_CTR, Mechanism::Ctr, "f0f1f2f3f4f5f6f7f8f9fafbfcfdfefe", "", 128, 1);
    const Mechanism fromOne(CKM_AES_CTR, Mechanism::Ctr, "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff", "", 128, 1);
    Bytes out;
    EXPECT_RV(CKR_OK, OneShot(false, session, fromZero.mechanism, key, Bytes(32), out));
    EXPECT_RV(CKR_DATA_LEN_RANGE, OneShot(false, session, fromZero.mechanism, key, Bytes(33), out));
    EXPECT_RV(CKR_OK, OneShot(false, session, fromOne.mechanism, key, Bytes(16), out));
    EXPECT_RV(CKR_DATA_LEN_RANGE, Parts(false, session, fromOne.mechanism, key, Bytes(17), {16}, out));
}

// SP 800-38B, AES-128 examples; the _GENERAL mechanism truncates.
TEST_F(AesTest, CmacKnownAnswers) {
    CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE key = SecretKey(session, CKK_AES, Hex(kKey128));
    const Bytes plain = Hex(kPlain);
    const struct {
        size_t length;
        const char* mac;
    } vectors[] = {{0, "bb1d6929e95937287fa37d129b756746"},
                   {16, "070a16b46b4d4144f79bdd9dd04a287c"},
                   {40, "dfa66747de9ae63030ca32611497c827"},
                   {64, "51f0bebf7e3b9d92fc49741779363cfe"}};
    CK_ULONG eight = 8;
    const CK_MECHANISM cmac = {CKM_AES_CMAC, nullptr, 0}, general = {CKM_AES_CMAC_GENERAL, &eight, sizeof eight};
    for (const auto& vector : vectors) {
        SCOPED_TRACE(vector.length);
        const Bytes data(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(vector.length));
        const Bytes expected = Hex(vector.mac);
        Bytes mac;
        ASSERT_RV(CKR_OK, Sign(session, cmac, key, data, mac));
        EXPECT_EQ(expected, mac);
        EXPECT_RV(CKR_OK, Verify(session, cmac, key, data, expected));
        ASSERT_RV(CKR_OK, Sign(session, general, key, data, mac));
        EXPECT_EQ(Bytes(expected.begin(), expected.begin() + 8), mac);
        Bytes wrong = expected;
        wrong[0] ^= 1;
        EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, cmac, key, data, wrong));
        EXPECT_RV(CKR_SIGNATURE_LEN_RANGE, Verify(session, general, key, data, expected));
        // In parts.
        CK_MECHANISM m = cmac;
        ASSERT_RV(CKR_OK, f->C_SignInit(session, &m, key));
        Bytes input = data;
        const size_t half = input.size() / 3;
        ASSERT_RV(CKR_OK, f->C_SignUpdate(session, input.data(), half));
        ASSERT_RV(CKR_OK, f->C_SignUpdate(session, input.data() + half, input.size() - half));
        CK_ULONG length = mac.size() * 2;
        mac.assign(length, 0);
        ASSERT_RV(CKR_OK, f->C_SignFinal(session, mac.data(), &length));
        mac.resize(length);
        EXPECT_EQ(expected, mac);
    }
}

TEST_F(AesTest, KeyValuesUsageAndType) {
    CK_SESSION_HANDLE session = LoginUser();
    for (size_t length : {0u, 8u, 15u, 17u, 31u, 33u, 64u}) {
        SCOPED_TRACE(length);
        SecretKey(session, CKK_AES, Bytes(length, 1), {}, CKR_ATTRIBUTE_VALUE_INVALID);
    }
    for (size_t length : {16u, 24u, 32u}) {
        const CK_OBJECT_HANDLE key = SecretKey(session, CKK_AES, Bytes(length, 1));
        EXPECT_EQ(length, UlongAttribute(session, key, CKA_VALUE_LEN));
    }
    // The check value: a zero block encrypted under the key, first three bytes.
    const CK_OBJECT_HANDLE key = SecretKey(session, CKK_AES, Hex(kKey128));
    EXPECT_EQ(Hex("7df76b"), Attribute(session, key, CKA_CHECK_VALUE));
    Bytes wrongCheck = Hex("7df76c");
    SecretKey(session, CKK_AES, Hex(kKey128), {{CKA_CHECK_VALUE, wrongCheck.data(), 3}}, CKR_ATTRIBUTE_VALUE_INVALID);
    CK_ULONG sixteen = 16;
    SecretKey(session, CKK_AES, Hex(kKey128), {{CKA_VALUE_LEN, &sixteen, sizeof sixteen}}, CKR_ATTRIBUTE_READ_ONLY);

    const CK_OBJECT_HANDLE noEncrypt = SecretKey(session, CKK_AES, Hex(kKey128), {{CKA_ENCRYPT, &Value::False, 1}});
    const CK_OBJECT_HANDLE noDecrypt = SecretKey(session, CKK_AES, Hex(kKey128), {{CKA_DECRYPT, &Value::False, 1}});
    const CK_OBJECT_HANDLE noSign = SecretKey(session, CKK_AES, Hex(kKey128), {{CKA_SIGN, &Value::False, 1}});
    const CK_OBJECT_HANDLE des3 = SecretKey(session, CKK_DES3, Bytes(24, 0x13));
    CK_MECHANISM ecb = {CKM_AES_ECB, nullptr, 0}, cmac = {CKM_AES_CMAC, nullptr, 0};
    EXPECT_RV(CKR_KEY_FUNCTION_NOT_PERMITTED, f->C_EncryptInit(session, &ecb, noEncrypt));
    Bytes out;
    EXPECT_RV(CKR_OK, OneShot(true, session, ecb, noEncrypt, Bytes(16), out));
    EXPECT_RV(CKR_KEY_FUNCTION_NOT_PERMITTED, f->C_DecryptInit(session, &ecb, noDecrypt));
    EXPECT_RV(CKR_KEY_FUNCTION_NOT_PERMITTED, f->C_SignInit(session, &cmac, noSign));
    EXPECT_RV(CKR_KEY_TYPE_INCONSISTENT, f->C_EncryptInit(session, &ecb, des3));
}

TEST_F(AesTest, GeneratedKeys) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_MECHANISM generate = {CKM_AES_KEY_GEN, nullptr, 0};
    for (CK_ULONG length : {16ul, 24ul, 32ul}) {
        SCOPED_TRACE(length);
        CK_ATTRIBUTE attributes[] = {{CKA_VALUE_LEN, &length, sizeof length}, {CKA_ENCRYPT, &Value::True, 1},
                                     {CKA_DECRYPT, &Value::True, 1}};
        CK_OBJECT_HANDLE key = 0;
        ASSERT_RV(CKR_OK, f->C_GenerateKey(session, &generate, attributes, 3, &key));
        EXPECT_EQ(length, UlongAttribute(session, key, CKA_VALUE_LEN));
        EXPECT_EQ(CKK_AES, UlongAttribute(session, key, CKA_KEY_TYPE));
        EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, key, CKA_LOCAL));
        EXPECT_EQ(CKM_AES_KEY_GEN, UlongAttribute(session, key, CKA_KEY_GEN_MECHANISM));
        EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, key, CKA_ALWAYS_SENSITIVE));
        EXPECT_EQ(3u, Attribute(session, key, CKA_CHECK_VALUE).size());
        const Mechanism cbc(CKM_AES_CBC_PAD, Mechanism::Iv, kIv);
        Bytes encrypted, decrypted;
        ASSERT_RV(CKR_OK, OneShot(false, session, cbc.mechanism, key, Bytes(21, 0x77), encrypted));
        ASSERT_RV(CKR_OK, OneShot(true, session, cbc.mechanism, key, encrypted, decrypted));
        EXPECT_EQ(Bytes(21, 0x77), decrypted);
    }
    CK_ULONG twenty = 20;
    Bytes value(16);
    const struct {
        std::vector<CK_ATTRIBUTE> attributes;
        CK_RV expected;
    } refused[] = {{{}, CKR_TEMPLATE_INCOMPLETE},
                   {{{CKA_VALUE_LEN, &twenty, sizeof twenty}}, CKR_ATTRIBUTE_VALUE_INVALID},
                   {{{CKA_VALUE_LEN, &twenty, 4}}, CKR_ATTRIBUTE_VALUE_INVALID}};
    for (const auto& r : refused) {
        std::vector<CK_ATTRIBUTE> attributes = r.attributes;
        CK_OBJECT_HANDLE key = 0;
        EXPECT_RV(r.expected, f->C_GenerateKey(session, &generate, attributes.data(), attributes.size(), &key));
    }
    CK_ULONG sixteen = 16;
    CK_ATTRIBUTE withValue[] = {{CKA_VALUE_LEN, &sixteen, sizeof sixteen}, {CKA_VALUE, value.data(), value.size()}};
    CK_OBJECT_HANDLE key = 0;
    EXPECT_RV(CKR_ATTRIBUTE_READ_ONLY, f->C_GenerateKey(session, &generate, withValue, 2, &key));
    CK_MECHANISM withParameter = {CKM_AES_KEY_GEN, value.data(), 4};
    EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, f->C_GenerateKey(session, &withParameter, withValue, 1, &key));
}

// An AES-128 key (and a 20-byte generic secret) wrapped by an AES-256 key with each wrapping
// mechanism, unwrapped from {CKA_CLASS, CKA_KEY_TYPE} and used.
TEST_F(AesTest, WrapAndUnwrapSecretKeys) {
    CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE kek = SecretKey(session, CKK_AES, Hex("000102030405060708090a0b0c0d0e0f"));
    const Bytes keyValue = Hex("00112233445566778899aabbccddeeff");
    const CK_OBJECT_HANDLE key = SecretKey(session, CKK_AES, keyValue);
    const Bytes secretValue(20, 0x5C);
    const CK_OBJECT_HANDLE secret = SecretKey(session, CKK_GENERIC_SECRET, secretValue);
    const struct {
        CK_MECHANISM_TYPE type;
        Mechanism::Kind kind;
        size_t wrappedLength, wrappedSecretLength;
    } mechanisms[] = {{CKM_AES_KEY_WRAP, Mechanism::None, 24, 0}, {CKM_AES_KEY_WRAP_PAD, Mechanism::None, 24, 32},
                      {CKM_AES_ECB, Mechanism::None, 16, 32},     {CKM_AES_CBC, Mechanism::Iv, 16, 32},
                      {CKM_AES_CBC_PAD, Mechanism::Iv, 32, 32},   {CKM_AES_GCM, Mechanism::Gcm, 32, 36}};
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    for (const auto& m : mechanisms) {
        SCOPED_TRACE(m.type);
        Mechanism mechanism(m.type, m.kind, m.kind == Mechanism::Gcm ? "cafebabefacedbaddecaf888" : kIv);
        CK_ULONG length = 0;
        ASSERT_RV(CKR_OK, f->C_WrapKey(session, &mechanism.mechanism, kek, key, nullptr, &length));
        Bytes wrapped(length);
        ASSERT_RV(CKR_OK, f->C_WrapKey(session, &mechanism.mechanism, kek, key, wrapped.data(), &length));
        EXPECT_EQ(m.wrappedLength, length);
        if (m.type == CKM_AES_KEY_WRAP) {
            EXPECT_EQ(Hex("1fa68b0a8112b447aef34bd8fb5a7b829d3e862371d2cfe5"), wrapped);
        }
        CK_KEY_TYPE aes = CKK_AES;
        CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &aes, sizeof aes},
                                     {CKA_ENCRYPT, &Value::True, 1}, {CKA_EXTRACTABLE, &Value::True, 1},
                                     {CKA_SENSITIVE, &Value::False, 1}};
        CK_OBJECT_HANDLE unwrapped = 0;
        ASSERT_RV(CKR_OK, f->C_UnwrapKey(session, &mechanism.mechanism, kek, wrapped.data(), wrapped.size(), attributes,
                                         5, &unwrapped));
        EXPECT_EQ(keyValue, Attribute(session, unwrapped, CKA_VALUE));
        EXPECT_EQ(Bytes{CK_FALSE}, Attribute(session, unwrapped, CKA_LOCAL));
        const Mechanism ecb(CKM_AES_ECB);
        Bytes byOriginal, byUnwrapped;
        ASSERT_RV(CKR_OK, OneShot(false, session, ecb.mechanism, key, Bytes(16, 9), byOriginal));
        ASSERT_RV(CKR_OK, OneShot(false, session, ecb.mechanism, unwrapped, Bytes(16, 9), byUnwrapped));
        EXPECT_EQ(byOriginal, byUnwrapped);

        wrapped[wrapped.size() - 1] ^= 1;
        const CK_RV corrupt = f->C_UnwrapKey(session, &mechanism.mechanism, kek, wrapped.data(), wrapped.size(),
                                             attributes, 5, &unwrapped);
        // Only the key wraps and GCM notice; ECB and CBC give another value.
        const bool checked = m.type == CKM_AES_KEY_WRAP || m.type == CKM_AES_KEY_WRAP_PAD || m.type == CKM_AES_GCM;
        if (checked) {
            EXPECT_RV(CKR_WRAPPED_KEY_INVALID, corrupt);
        }
        EXPECT_RV(m.type == CKM_AES_GCM ? CKR_WRAPPED_KEY_INVALID : CKR_WRAPPED_KEY_LEN_RANGE,
                  f->C_UnwrapKey(session, &mechanism.mechanism, kek, wrapped.data(), wrapped.size() - 1, attributes,
                                 5, &unwrapped));

        // A 20-byte secret: ECB and CBC fill with zeros, unwrapping cuts to CKA_VALUE_LEN.
        length = 64;
        wrapped.assign(length, 0);
        const CK_RV wrapSecret = f->C_WrapKey(session, &mechanism.mechanism, kek, secret, wrapped.data(), &length);
        if (m.wrappedSecretLength == 0) {
            EXPECT_RV(CKR_DATA_LEN_RANGE, wrapSecret);
            continue;
        }
        ASSERT_RV(CKR_OK, wrapSecret);
        EXPECT_EQ(m.wrappedSecretLength, length);
        CK_KEY_TYPE generic = CKK_GENERIC_SECRET;
        CK_ULONG twenty = 20;
        CK_ATTRIBUTE secretTemplate[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                         {CKA_KEY_TYPE, &generic, sizeof generic},
                                         {CKA_VALUE_LEN, &twenty, sizeof twenty},
                                         {CKA_SENSITIVE, &Value::False, 1}, {CKA_EXTRACTABLE, &Value::True, 1}};
        ASSERT_RV(CKR_OK, f->C_UnwrapKey(session, &mechanism.mechanism, kek, wrapped.data(), length, secretTemplate, 5,
                                         &unwrapped));
        EXPECT_EQ(secretValue, Attribute(session, unwrapped, CKA_VALUE));
    }
    // A wrapping key without CKA_WRAP, and one of another type.
    const CK_OBJECT_HANDLE noWrap = SecretKey(session, CKK_AES, Bytes(16, 3), {{CKA_WRAP, &Value::False, 1}});
    CK_MECHANISM wrap = {CKM_AES_KEY_WRAP, nullptr, 0};
    CK_ULONG length = 0;
    EXPECT_RV(CKR_KEY_FUNCTION_NOT_PERMITTED, f->C_WrapKey(session, &wrap, noWrap, key, nullptr, &length));
    EXPECT_RV(CKR_WRAPPING_KEY_TYPE_INCONSISTENT, f->C_WrapKey(session, &wrap, secret, key, nullptr, &length));
}

// AES-CBC-PAD under the key agrees with the openssl command.
TEST_F(AesTest, CbcPadAgreesWithOpensslEnc) {
    CK_SESSION_HANDLE session = LoginUser();
    const CK_OBJECT_HANDLE key = SecretKey(session, CKK_AES, Hex(kKey256));
    const Mechanism cbcPad(CKM_AES_CBC_PAD, Mechanism::Iv, kIv);
    const Bytes data(1000, 0x61);
    Bytes encrypted;
    ASSERT_RV(CKR_OK, OneShot(false, session, cbcPad.mechanism, key, data, encrypted));
    std::ofstream(Dir() + "/data", std::ios::binary).write(reinterpret_cast<const char*>(data.data()), data.size());
    const std::string command = std::string("openssl enc -aes-256-cbc -K ") + kKey256 + " -iv " + kIv + " -in " + Dir() +
                                "/data -out " + Dir() + "/enc";
    ASSERT_EQ(0, std::system(command.c_str())) << command;
    std::ifstream in(Dir() + "/enc", std::ios::binary);
    EXPECT_EQ(encrypted, Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
}

}  // namespace
}  // namespace softtoken_test
