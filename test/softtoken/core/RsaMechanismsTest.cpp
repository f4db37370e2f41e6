// The RSA mechanisms through the function list: known answers, every signature and encryption
// mechanism checked independently with OpenSSL, parameters and lengths refused with their
// codes, key wrapping, and the checks C_CreateObject makes on RSA keys.
#include "RsaTestKeys.h"
#include "RsaVectors.h"
#include "SoftTokenFixture.h"
#include "objects/KeyTypes.h"
#include "objects/ObjectPolicy.h"
#include "crypto/CryptoError.h"

#include <openssl/rsa.h>

#include <cstring>
#include <string>

namespace softtoken_test {
namespace {

using namespace rsa_vectors;

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes TestData(size_t size, unsigned char seed = 3) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<unsigned char>(i * 7 + seed);
    return data;
}

RsaParts Pkcs1Key() {
    return {Hex(kPkcs1Modulus), {1, 0, 1},           Hex(kPkcs1PrivateExponent), Hex(kPkcs1Prime1),
            Hex(kPkcs1Prime2),  Hex(kPkcs1Exponent1), Hex(kPkcs1Exponent2),      Hex(kPkcs1Coefficient)};
}

RsaParts OaepKey() {
    return {Hex(kOaepModulus), {1, 0, 1},          Hex(kOaepPrivateExponent), Hex(kOaepPrime1),
            Hex(kOaepPrime2),  Hex(kOaepExponent1), Hex(kOaepExponent2),      Hex(kOaepCoefficient)};
}

const EVP_MD* OpenSslMd(CK_MECHANISM_TYPE hash) {
    switch (hash) {
    case CKM_SHA_1: return EVP_sha1();
    case CKM_SHA224: return EVP_sha224();
    case CKM_SHA256: return EVP_sha256();
    case CKM_SHA384: return EVP_sha384();
    case CKM_SHA512: return EVP_sha512();
    default: return nullptr;
    }
}

CK_RSA_PKCS_MGF_TYPE Mgf1Of(CK_MECHANISM_TYPE hash) {
    switch (hash) {
    case CKM_SHA_1: return CKG_MGF1_SHA1;
    case CKM_SHA224: return CKG_MGF1_SHA224;
    case CKM_SHA256: return CKG_MGF1_SHA256;
    case CKM_SHA384: return CKG_MGF1_SHA384;
    default: return CKG_MGF1_SHA512;
    }
}

Bytes DigestOf(CK_MECHANISM_TYPE hash, const Bytes& data) {
    Bytes digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest.data(), &length, OpenSslMd(hash), nullptr);
    digest.resize(length);
    return digest;
}

Bytes Sha1DigestInfo(const Bytes& message) {
    Bytes info = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
    const Bytes digest = DigestOf(CKM_SHA_1, message);
    info.insert(info.end(), digest.begin(), digest.end());
    return info;
}

// The type-1 block under a PKCS #1 v1.5 signature: what CKM_RSA_X_509 signs to the same value.
Bytes Type1Block(const Bytes& digestInfo, size_t k) {
    Bytes block = {0x00, 0x01};
    block.insert(block.end(), k - 3 - digestInfo.size(), 0xFF);
    block.push_back(0x00);
    block.insert(block.end(), digestInfo.begin(), digestInfo.end());
    return block;
}

// A mechanism with its parameter kept alive beside it.
struct Mechanism {
    CK_MECHANISM_TYPE type = 0;
    CK_RSA_PKCS_PSS_PARAMS pss{};
    CK_RSA_PKCS_OAEP_PARAMS oaep{};
    Bytes label;
    enum class Params { None, Pss, Oaep } params = Params::None;

    static Mechanism Plain(CK_MECHANISM_TYPE type) {
        Mechanism m;
        m.type = type;
        return m;
    }
    static Mechanism Pss(CK_MECHANISM_TYPE type, CK_MECHANISM_TYPE hash, CK_ULONG salt) {
        Mechanism m = Plain(type);
        m.params = Params::Pss;
        m.pss = {hash, Mgf1Of(hash), salt};
        return m;
    }
    static Mechanism Oaep(CK_MECHANISM_TYPE hash, const std::string& label = "") {
        Mechanism m = Plain(CKM_RSA_PKCS_OAEP);
        m.params = Params::Oaep;
        m.label.assign(label.begin(), label.end());
        m.oaep = {hash, Mgf1Of(hash), CKZ_DATA_SPECIFIED, nullptr, 0};
        return m;
    }
    CK_MECHANISM Get() {
        if (params == Params::Pss) return {type, &pss, sizeof pss};
        if (params != Params::Oaep) return {type, nullptr, 0};
        oaep.pSourceData = label.empty() ? nullptr : label.data();
        oaep.ulSourceDataLen = label.size();
        return {type, &oaep, sizeof oaep};
    }
};

class RsaMechanismsTest : public SoftTokenTest {
protected:
    struct Pair {
        CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    };

    CK_RV CreateKey(CK_SESSION_HANDLE session, CK_OBJECT_CLASS keyClass, std::vector<CK_ATTRIBUTE> values,
                    CK_OBJECT_HANDLE& key) {
        CK_KEY_TYPE keyType = CKK_RSA;
        values.push_back({CKA_CLASS, &keyClass, sizeof keyClass});
        values.push_back({CKA_KEY_TYPE, &keyType, sizeof keyType});
        return f->C_CreateObject(session, values.data(), values.size(), &key);
    }

    static std::vector<CK_ATTRIBUTE> PublicValues(RsaParts& parts) {
        return {{CKA_MODULUS, parts.modulus.data(), parts.modulus.size()},
                {CKA_PUBLIC_EXPONENT, parts.publicExponent.data(), parts.publicExponent.size()},
                {CKA_WRAP, &Value::True, 1}};
    }

    static std::vector<CK_ATTRIBUTE> PrivateValues(RsaParts& parts, bool extractable) {
        std::vector<CK_ATTRIBUTE> values = {
            {CKA_MODULUS, parts.modulus.data(), parts.modulus.size()},
            {CKA_PUBLIC_EXPONENT, parts.publicExponent.data(), parts.publicExponent.size()},
            {CKA_PRIVATE_EXPONENT, parts.privateExponent.data(), parts.privateExponent.size()},
            {CKA_UNWRAP, &Value::True, 1},
            {CKA_EXTRACTABLE, extractable ? &Value::True : &Value::False, 1}};
        const std::pair<CK_ATTRIBUTE_TYPE, Bytes*> crt[] = {
            {CKA_PRIME_1, &parts.prime1},       {CKA_PRIME_2, &parts.prime2},
            {CKA_EXPONENT_1, &parts.exponent1}, {CKA_EXPONENT_2, &parts.exponent2},
            {CKA_COEFFICIENT, &parts.coefficient}};
        for (const auto& [type, value] : crt)
            if (!value->empty()) values.push_back({type, value->data(), value->size()});
        return values;
    }

    Pair Create(CK_SESSION_HANDLE session, RsaParts parts, bool extractable = false) {
        Pair pair;
        EXPECT_RV(CKR_OK, CreateKey(session, CKO_PUBLIC_KEY, PublicValues(parts), pair.publicKey));
        if (!parts.privateExponent.empty()) {
            EXPECT_RV(CKR_OK, CreateKey(session, CKO_PRIVATE_KEY, PrivateValues(parts, extractable), pair.privateKey));
        }
        return pair;
    }

    CK_RV SignInParts(CK_SESSION_HANDLE session, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, const Bytes& data,
                      Bytes& signature) {
        CK_RV rv = f->C_SignInit(session, &mechanism, key);
        Bytes input = data;
        for (size_t at = 0; rv == CKR_OK && at < input.size(); at += 37)
            rv = f->C_SignUpdate(session, input.data() + at, std::min<size_t>(37, input.size() - at));
        CK_ULONG length = 0;
        if (rv == CKR_OK) rv = f->C_SignFinal(session, nullptr, &length);
        signature.assign(length, 0);
        if (rv == CKR_OK) rv = f->C_SignFinal(session, signature.data(), &length);
        return rv;
    }

    CK_RV VerifyInParts(CK_SESSION_HANDLE session, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, const Bytes& data,
                        const Bytes& signature) {
        CK_RV rv = f->C_VerifyInit(session, &mechanism, key);
        Bytes input = data, sig = signature;
        for (size_t at = 0; rv == CKR_OK && at < input.size(); at += 41)
            rv = f->C_VerifyUpdate(session, input.data() + at, std::min<size_t>(41, input.size() - at));
        return rv == CKR_OK ? f->C_VerifyFinal(session, sig.data(), sig.size()) : rv;
    }

    // C_Encrypt or C_Decrypt by the length protocol: the length, a short buffer, the value.
    CK_RV Crypt(CK_SESSION_HANDLE session, CK_MECHANISM mechanism, CK_OBJECT_HANDLE key, const Bytes& input,
                Bytes& output, bool decrypt) {
        CK_RV rv = decrypt ? f->C_DecryptInit(session, &mechanism, key) : f->C_EncryptInit(session, &mechanism, key);
        if (rv != CKR_OK) return rv;
        Bytes in = input;
        auto call = [&](CK_BYTE_PTR out, CK_ULONG_PTR length) {
            return decrypt ? f->C_Decrypt(session, in.data(), in.size(), out, length)
                           : f->C_Encrypt(session, in.data(), in.size(), out, length);
        };
        CK_ULONG length = 0;
        if ((rv = call(nullptr, &length)) != CKR_OK) return rv;
        output.assign(length, 0);
        CK_ULONG shortLength = 0;
        if (length > 0) {
            EXPECT_RV(CKR_BUFFER_TOO_SMALL, call(output.data(), &shortLength));
            EXPECT_LE(shortLength, length);
        }
        rv = call(output.data(), &length);
        output.resize(rv == CKR_OK ? length : 0);
        return rv;
    }
};

// ---- Known answers ----

struct KnownSignature {
    const char* name;
    CK_MECHANISM_TYPE mechanism;
    CK_MECHANISM_TYPE pssHash;  // PSS: the hash (salt 20 bytes); 0 otherwise
    RsaParts (*key)();          // a private key signs to the answer; a public one only verifies
    Bytes (*input)();
    const char* signature;
};

RsaParts NistKey() { return {Hex(kNistModulus), {0x10, 0x01}, {}, {}, {}, {}, {}, {}}; }
RsaParts PssKey() { return {Hex(kPssModulus), {1, 0, 1}, {}, {}, {}, {}, {}, {}}; }

const KnownSignature kKnownSignatures[] = {
    {"Sha1Pkcs1", CKM_SHA1_RSA_PKCS, 0, Pkcs1Key, [] { return Hex(kPkcs1Message); }, kPkcs1Signature},
    {"RawPkcs1OverDigestInfo", CKM_RSA_PKCS, 0, Pkcs1Key, [] { return Sha1DigestInfo(Hex(kPkcs1Message)); },
     kPkcs1Signature},
    {"X509OverType1Block", CKM_RSA_X_509, 0, Pkcs1Key,
     [] { return Type1Block(Sha1DigestInfo(Hex(kPkcs1Message)), 128); }, kPkcs1Signature},
    {"X509LeftPadsAShortBlock", CKM_RSA_X_509, 0, Pkcs1Key,
     [] {
         Bytes block = Type1Block(Sha1DigestInfo(Hex(kPkcs1Message)), 128);
         return Bytes(block.begin() + 1, block.end());
     },
     kPkcs1Signature},
    {"NistSha1", CKM_SHA1_RSA_PKCS, 0, NistKey, [] { return Hex(kNistSha1Message); }, kNistSha1Signature},
    {"NistSha224", CKM_SHA224_RSA_PKCS, 0, NistKey, [] { return Hex(kNistSha224Message); }, kNistSha224Signature},
    {"NistSha256", CKM_SHA256_RSA_PKCS, 0, NistKey, [] { return Hex(kNistSha256Message); }, kNistSha256Signature},
    {"Sha1Pss", CKM_SHA1_RSA_PKCS_PSS, CKM_SHA_1, PssKey, [] { return Hex(kPssMessage); }, kPssSignature},
    {"PssOverDigest", CKM_RSA_PKCS_PSS, CKM_SHA_1, PssKey, [] { return Hex(kPssMessageHash); }, kPssSignature},
};

class RsaKnownSignatureTest : public RsaMechanismsTest, public ::testing::WithParamInterface<KnownSignature> {};

TEST_P(RsaKnownSignatureTest, GivesAndAcceptsThePublishedSignature) {
    const KnownSignature& known = GetParam();
    CK_SESSION_HANDLE session = LoginUser();
    const RsaParts parts = known.key();
    const Pair pair = Create(session, parts);
    Mechanism mechanism = known.pssHash ? Mechanism::Pss(known.mechanism, known.pssHash, 20)
                                        : Mechanism::Plain(known.mechanism);
    const Bytes input = known.input(), expected = Hex(known.signature);
    if (pair.privateKey != 0) {
        Bytes signature;
        ASSERT_RV(CKR_OK, Sign(session, mechanism.Get(), pair.privateKey, input, signature));
        EXPECT_EQ(expected, signature);
    }
    EXPECT_RV(CKR_OK, Verify(session, mechanism.Get(), pair.publicKey, input, expected));
    Bytes other = input;
    other.back() ^= 0x01;
    EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, mechanism.Get(), pair.publicKey, other, expected));
}

INSTANTIATE_TEST_SUITE_P(Vectors, RsaKnownSignatureTest, ::testing::ValuesIn(kKnownSignatures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RsaMechanismsTest, OaepDecryptsThePublishedCiphertext) {
    CK_SESSION_HANDLE session = LoginUser();
    const Pair pair = Create(session, OaepKey());
    Mechanism oaep = Mechanism::Oaep(CKM_SHA_1);
    Bytes message;
    ASSERT_RV(CKR_OK, Crypt(session, oaep.Get(), pair.privateKey, Hex(kOaepEncrypted), message, true));
    EXPECT_EQ(Hex(kOaepMessage), message);
    // The same block under a label it was not made with does not decrypt.
    Mechanism labelled = Mechanism::Oaep(CKM_SHA_1, "label");
    EXPECT_RV(CKR_ENCRYPTED_DATA_INVALID, Crypt(session, labelled.Get(), pair.privateKey, Hex(kOaepEncrypted),
                                                message, true));
}

// ---- Every signature mechanism, in one piece and in parts, checked by OpenSSL ----

struct SignatureCase {
    const char* name;
    CK_MECHANISM_TYPE mechanism;
    CK_MECHANISM_TYPE hash;  // the digest: made by the mechanism, or by the caller for CKM_RSA_PKCS_PSS
    int padding;             // OpenSSL's name of the scheme
    bool hashedHere;
};

const SignatureCase kSignatureCases[] = {
    {"RsaPkcs", CKM_RSA_PKCS, 0, RSA_PKCS1_PADDING, false},
    {"RsaX509", CKM_RSA_X_509, 0, RSA_NO_PADDING, false},
    {"Sha1", CKM_SHA1_RSA_PKCS, CKM_SHA_1, RSA_PKCS1_PADDING, true},
    {"Sha224", CKM_SHA224_RSA_PKCS, CKM_SHA224, RSA_PKCS1_PADDING, true},
    {"Sha256", CKM_SHA256_RSA_PKCS, CKM_SHA256, RSA_PKCS1_PADDING, true},
    {"Sha384", CKM_SHA384_RSA_PKCS, CKM_SHA384, RSA_PKCS1_PADDING, true},
    {"Sha512", CKM_SHA512_RSA_PKCS, CKM_SHA512, RSA_PKCS1_PADDING, true},
    {"PssSha256Digest", CKM_RSA_PKCS_PSS, CKM_SHA256, RSA_PKCS1_PSS_PADDING, false},
    {"PssSha512Digest", CKM_RSA_PKCS_PSS, CKM_SHA512, RSA_PKCS1_PSS_PADDING, false},
    {"Sha1Pss", CKM_SHA1_RSA_PKCS_PSS, CKM_SHA_1, RSA_PKCS1_PSS_PADDING, true},
    {"Sha224Pss", CKM_SHA224_RSA_PKCS_PSS, CKM_SHA224, RSA_PKCS1_PSS_PADDING, true},
    {"Sha256Pss", CKM_SHA256_RSA_PKCS_PSS, CKM_SHA256, RSA_PKCS1_PSS_PADDING, true},
    {"Sha384Pss", CKM_SHA384_RSA_PKCS_PSS, CKM_SHA384, RSA_PKCS1_PSS_PADDING, true},
    {"Sha512Pss", CKM_SHA512_RSA_PKCS_PSS, CKM_SHA512, RSA_PKCS1_PSS_PADDING, true},
};

constexpr CK_ULONG kSalt = 20;

bool OpenSslVerifies(EVP_PKEY* key, const SignatureCase& c, const Bytes& input, const Bytes& signature) {
    PkeyCtx ctx = ContextOf(key);
    if (c.padding == RSA_NO_PADDING) {
        Bytes recovered(signature.size());
        size_t length = recovered.size();
        Bytes expected(signature.size() - input.size(), 0);
        expected.insert(expected.end(), input.begin(), input.end());
        return EVP_PKEY_verify_recover_init(ctx.get()) == 1 && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), c.padding) == 1 &&
               EVP_PKEY_verify_recover(ctx.get(), recovered.data(), &length, signature.data(), signature.size()) == 1 &&
               recovered == expected;
    }
    const Bytes tbs = c.hashedHere ? DigestOf(c.hash, input) : input;
    if (EVP_PKEY_verify_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), c.padding) != 1) return false;
    if (c.hash != 0 && EVP_PKEY_CTX_set_signature_md(ctx.get(), OpenSslMd(c.hash)) != 1) return false;
    if (c.padding == RSA_PKCS1_PSS_PADDING && (EVP_PKEY_CTX_set_rsa_mgf1_md(ctx.get(), OpenSslMd(c.hash)) != 1 ||
                                               EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx.get(), kSalt) != 1))
        return false;
    return EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), tbs.data(), tbs.size()) == 1;
}

Bytes InputFor(const SignatureCase& c) {
    if (c.hashedHere) return TestData(300);
    if (c.padding == RSA_PKCS1_PSS_PADDING) return DigestOf(c.hash, TestData(300));
    if (c.padding == RSA_NO_PADDING) return TestData(127);
    return TestData(117);  // k - 11, the most CKM_RSA_PKCS takes
}

Mechanism MechanismFor(const SignatureCase& c) {
    if (c.padding == RSA_PKCS1_PSS_PADDING) return Mechanism::Pss(c.mechanism, c.hash, kSalt);
    return Mechanism::Plain(c.mechanism);
}

class RsaSignatureTest : public RsaMechanismsTest, public ::testing::WithParamInterface<SignatureCase> {};

TEST_P(RsaSignatureTest, SignsInOnePieceVerifiedByOpenSslAndTheToken) {
    const SignatureCase& c = GetParam();
    CK_SESSION_HANDLE session = LoginUser();
    const RsaParts parts = Pkcs1Key();
    const Pair pair = Create(session, parts);
    Pkey openSsl = PublicKeyOf(parts.modulus, parts.publicExponent);
    Mechanism mechanism = MechanismFor(c);
    const Bytes input = InputFor(c);
    Bytes signature;
    ASSERT_RV(CKR_OK, Sign(session, mechanism.Get(), pair.privateKey, input, signature));
    ASSERT_EQ(128u, signature.size());
    EXPECT_TRUE(OpenSslVerifies(openSsl.get(), c, input, signature));
    EXPECT_RV(CKR_OK, Verify(session, mechanism.Get(), pair.publicKey, input, signature));

    Bytes corrupt = signature;
    corrupt[64] ^= 0x10;
    EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, mechanism.Get(), pair.publicKey, input, corrupt));
    EXPECT_RV(CKR_SIGNATURE_LEN_RANGE,
              Verify(session, mechanism.Get(), pair.publicKey, input, Bytes(signature.begin(), signature.end() - 1)));
}

TEST_P(RsaSignatureTest, PartsAreHashedAsTheyComeOrRefused) {
    const SignatureCase& c = GetParam();
    CK_SESSION_HANDLE session = LoginUser();
    const RsaParts parts = Pkcs1Key();
    const Pair pair = Create(session, parts);
    Mechanism mechanism = MechanismFor(c);
    const Bytes input = InputFor(c);
    Bytes signature;
    if (!c.hashedHere) {
        EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, SignInParts(session, mechanism.Get(), pair.privateKey, input, signature));
        EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, VerifyInParts(session, mechanism.Get(), pair.publicKey, input, signature));
        return;
    }
    ASSERT_RV(CKR_OK, SignInParts(session, mechanism.Get(), pair.privateKey, input, signature));
    Pkey openSsl = PublicKeyOf(parts.modulus, parts.publicExponent);
    EXPECT_TRUE(OpenSslVerifies(openSsl.get(), c, input, signature));
    EXPECT_RV(CKR_OK, VerifyInParts(session, mechanism.Get(), pair.publicKey, input, signature));
    EXPECT_RV(CKR_OK, Verify(session, mechanism.Get(), pair.publicKey, input, signature));
    Bytes other = input;
    other[200] ^= 0x01;
    EXPECT_RV(CKR_SIGNATURE_INVALID, VerifyInParts(session, mechanism.Get(), pair.publicKey, other, signature));
}

INSTANTIATE_TEST_SUITE_P(Mechanisms, RsaSignatureTest, ::testing::ValuesIn(kSignatureCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Parameters and lengths the mechanisms refuse ----

struct Refusal {
    const char* what;
    CK_MECHANISM_TYPE mechanism;
    const void* parameter;
    CK_ULONG parameterLength;
    bool encrypt;  // C_EncryptInit, else C_SignInit
};

const CK_RSA_PKCS_PSS_PARAMS kPssSha1 = {CKM_SHA_1, CKG_MGF1_SHA1, 20};
const CK_RSA_PKCS_PSS_PARAMS kPssMd5 = {CKM_MD5, CKG_MGF1_SHA1, 16};
const CK_RSA_PKCS_PSS_PARAMS kPssBadMgf = {CKM_SHA256, 0x99, 32};
const CK_RSA_PKCS_PSS_PARAMS kPssLongSalt = {CKM_SHA512, CKG_MGF1_SHA512, 63};  // 64 + 63 + 2 > 128
const CK_RSA_PKCS_OAEP_PARAMS kOaepBadSource = {CKM_SHA_1, CKG_MGF1_SHA1, 7, nullptr, 0};
const CK_RSA_PKCS_OAEP_PARAMS kOaepNullLabel = {CKM_SHA_1, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, nullptr, 5};
const CK_RSA_PKCS_OAEP_PARAMS kOaepMd5 = {CKM_MD5, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, nullptr, 0};
const CK_RSA_PKCS_OAEP_PARAMS kOaepBadMgf = {CKM_SHA_1, 0, CKZ_DATA_SPECIFIED, nullptr, 0};
const CK_BYTE kStray[4] = {1, 2, 3, 4};

const Refusal kRefusals[] = {
    {"PSS without parameters", CKM_SHA256_RSA_PKCS_PSS, nullptr, 0, false},
    {"PSS parameters one byte short", CKM_RSA_PKCS_PSS, &kPssSha1, sizeof kPssSha1 - 1, false},
    {"PSS parameters with a null pointer", CKM_RSA_PKCS_PSS, nullptr, sizeof kPssSha1, false},
    {"PSS hashAlg other than the mechanism's hash", CKM_SHA256_RSA_PKCS_PSS, &kPssSha1, sizeof kPssSha1, false},
    {"PSS over an unsupported hash", CKM_RSA_PKCS_PSS, &kPssMd5, sizeof kPssMd5, false},
    {"PSS with an unknown MGF", CKM_SHA256_RSA_PKCS_PSS, &kPssBadMgf, sizeof kPssBadMgf, false},
    {"PSS salt too long for the key", CKM_SHA512_RSA_PKCS_PSS, &kPssLongSalt, sizeof kPssLongSalt, false},
    {"PKCS #1 v1.5 with a parameter", CKM_RSA_PKCS, kStray, sizeof kStray, false},
    {"hash-and-sign with a parameter", CKM_SHA384_RSA_PKCS, kStray, sizeof kStray, false},
    {"raw encryption with a parameter", CKM_RSA_X_509, kStray, sizeof kStray, true},
    {"OAEP without parameters", CKM_RSA_PKCS_OAEP, nullptr, 0, true},
    {"OAEP parameters of the wrong size", CKM_RSA_PKCS_OAEP, &kPssSha1, sizeof kPssSha1, true},
    {"OAEP with an unknown source", CKM_RSA_PKCS_OAEP, &kOaepBadSource, sizeof kOaepBadSource, true},
    {"OAEP label length without a label", CKM_RSA_PKCS_OAEP, &kOaepNullLabel, sizeof kOaepNullLabel, true},
    {"OAEP over an unsupported hash", CKM_RSA_PKCS_OAEP, &kOaepMd5, sizeof kOaepMd5, true},
    {"OAEP with no MGF", CKM_RSA_PKCS_OAEP, &kOaepBadMgf, sizeof kOaepBadMgf, true},
};

TEST_F(RsaMechanismsTest, BadParametersFailInitAndLeaveNoOperation) {
    CK_SESSION_HANDLE session = LoginUser();
    const Pair pair = Create(session, Pkcs1Key());
    for (const Refusal& refusal : kRefusals) {
        SCOPED_TRACE(refusal.what);
        CK_MECHANISM mechanism = {refusal.mechanism, const_cast<void*>(refusal.parameter), refusal.parameterLength};
        Bytes data(32, 1), out(128);
        CK_ULONG length = out.size();
        if (refusal.encrypt) {
            EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, f->C_EncryptInit(session, &mechanism, pair.publicKey));
            EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, f->C_Encrypt(session, data.data(), 32, out.data(), &length));
        } else {
            EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, f->C_SignInit(session, &mechanism, pair.privateKey));
            EXPECT_RV(CKR_OPERATION_NOT_INITIALIZED, f->C_Sign(session, data.data(), 32, out.data(), &length));
        }
    }
    // The longest salt that fits a 1024-bit key for SHA-512.
    CK_RSA_PKCS_PSS_PARAMS longest = {CKM_SHA512, CKG_MGF1_SHA512, 62};
    CK_MECHANISM fits = {CKM_SHA512_RSA_PKCS_PSS, &longest, sizeof longest};
    Bytes signature;
    EXPECT_RV(CKR_OK, Sign(session, fits, pair.privateKey, TestData(10), signature));
    EXPECT_RV(CKR_OK, Verify(session, fits, pair.publicKey, TestData(10), signature));
}

struct BadLength {
    const char* what;
    CK_MECHANISM_TYPE mechanism;
    Bytes input;
    CK_RV rv;
};

TEST_F(RsaMechanismsTest, InputOfTheWrongLengthIsRefused) {
    CK_SESSION_HANDLE session = LoginUser();
    const Pair pair = Create(session, Pkcs1Key());
    const BadLength cases[] = {
        {"PSS digest one byte short", CKM_RSA_PKCS_PSS, Bytes(31, 1), CKR_DATA_LEN_RANGE},
        {"PSS digest one byte long", CKM_RSA_PKCS_PSS, Bytes(33, 1), CKR_DATA_LEN_RANGE},
        {"PKCS #1 v1.5 above k - 11", CKM_RSA_PKCS, Bytes(118, 1), CKR_DATA_LEN_RANGE},
        {"raw above k", CKM_RSA_X_509, Bytes(129, 1), CKR_DATA_LEN_RANGE},
        {"raw not below the modulus", CKM_RSA_X_509, Bytes(128, 0xFF), CKR_DATA_INVALID},
    };
    CK_RSA_PKCS_PSS_PARAMS sha256 = {CKM_SHA256, CKG_MGF1_SHA256, 32};
    for (const BadLength& c : cases) {
        SCOPED_TRACE(c.what);
        CK_MECHANISM mechanism = {c.mechanism, nullptr, 0};
        if (c.mechanism == CKM_RSA_PKCS_PSS) mechanism = {c.mechanism, &sha256, sizeof sha256};
        Bytes signature;
        EXPECT_RV(c.rv, Sign(session, mechanism, pair.privateKey, c.input, signature));
        if (c.mechanism == CKM_RSA_PKCS_PSS) {
            EXPECT_RV(CKR_DATA_LEN_RANGE, Verify(session, mechanism, pair.publicKey, c.input, Bytes(128, 1)));
        }
    }
}

// ---- Encryption and decryption, both ways against OpenSSL ----

struct CipherCase {
    const char* name;
    CK_MECHANISM_TYPE mechanism;
    int padding;
    CK_MECHANISM_TYPE oaepHash;
    const char* label;
    size_t maxData;  // for a 1024-bit key
};

const CipherCase kCipherCases[] = {
    {"Pkcs1", CKM_RSA_PKCS, RSA_PKCS1_PADDING, 0, "", 117},
    {"Raw", CKM_RSA_X_509, RSA_NO_PADDING, 0, "", 128},
    {"OaepSha1", CKM_RSA_PKCS_OAEP, RSA_PKCS1_OAEP_PADDING, CKM_SHA_1, "", 86},
    {"OaepSha224", CKM_RSA_PKCS_OAEP, RSA_PKCS1_OAEP_PADDING, CKM_SHA224, "", 70},
    {"OaepSha256Labelled", CKM_RSA_PKCS_OAEP, RSA_PKCS1_OAEP_PADDING, CKM_SHA256, "a label", 62},
    {"OaepSha384", CKM_RSA_PKCS_OAEP, RSA_PKCS1_OAEP_PADDING, CKM_SHA384, "", 30},
};

Mechanism MechanismFor(const CipherCase& c) {
    return c.oaepHash ? Mechanism::Oaep(c.oaepHash, c.label) : Mechanism::Plain(c.mechanism);
}

bool Configure(EVP_PKEY_CTX* ctx, const CipherCase& c) {
    if (EVP_PKEY_CTX_set_rsa_padding(ctx, c.padding) != 1) return false;
    if (c.oaepHash == 0) return true;
    if (EVP_PKEY_CTX_set_rsa_oaep_md(ctx, OpenSslMd(c.oaepHash)) != 1 ||
        EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, OpenSslMd(c.oaepHash)) != 1)
        return false;
    const size_t length = std::strlen(c.label);
    if (length == 0) return true;
    auto* label = static_cast<unsigned char*>(OPENSSL_memdup(c.label, length));
    if (EVP_PKEY_CTX_set0_rsa_oaep_label(ctx, label, static_cast<int>(length)) == 1) return true;
    OPENSSL_free(label);
    return false;
}

// EVP_PKEY_encrypt or EVP_PKEY_decrypt; empty when OpenSSL refuses.
Bytes OpenSslCrypt(EVP_PKEY* key, const CipherCase& c, const Bytes& input, bool decrypt) {
    PkeyCtx ctx = ContextOf(key);
    Bytes out(EVP_PKEY_get_size(key));
    size_t length = out.size();
    const bool ok = (decrypt ? EVP_PKEY_decrypt_init(ctx.get()) : EVP_PKEY_encrypt_init(ctx.get())) == 1 &&
                    Configure(ctx.get(), c) &&
                    (decrypt ? EVP_PKEY_decrypt(ctx.get(), out.data(), &length, input.data(), input.size())
                             : EVP_PKEY_encrypt(ctx.get(), out.data(), &length, input.data(), input.size())) == 1;
    out.resize(ok ? length : 0);
    return out;
}

Bytes OpenSslEncrypt(EVP_PKEY* key, const CipherCase& c, const Bytes& data) { return OpenSslCrypt(key, c, data, false); }
Bytes OpenSslDecrypt(EVP_PKEY* key, const CipherCase& c, const Bytes& data) { return OpenSslCrypt(key, c, data, true); }

class RsaCipherTest : public RsaMechanismsTest, public ::testing::WithParamInterface<CipherCase> {};

TEST_P(RsaCipherTest, EncryptsForOpenSslAndDecryptsWhatOpenSslEncrypted) {
    const CipherCase& c = GetParam();
    CK_SESSION_HANDLE session = LoginUser();
    const RsaParts parts = Pkcs1Key();
    const Pair pair = Create(session, parts);
    Pkey openSsl = OpenSslRsaKey(parts);
    Mechanism mechanism = MechanismFor(c);
    // Raw blocks are whole numbers below the modulus: the block starts with a small byte.
    const Bytes data = c.padding == RSA_NO_PADDING ? Concat({0x01}, TestData(c.maxData - 1)) : TestData(c.maxData);

    Bytes encrypted;
    ASSERT_RV(CKR_OK, Crypt(session, mechanism.Get(), pair.publicKey, data, encrypted, false));
    ASSERT_EQ(128u, encrypted.size());
    EXPECT_EQ(data, OpenSslDecrypt(openSsl.get(), c, encrypted));

    const Bytes fromOpenSsl = OpenSslEncrypt(openSsl.get(), c, data);
    ASSERT_EQ(128u, fromOpenSsl.size());
    Bytes decrypted;
    ASSERT_RV(CKR_OK, Crypt(session, mechanism.Get(), pair.privateKey, fromOpenSsl, decrypted, true));
    EXPECT_EQ(data, decrypted);
}

TEST_P(RsaCipherTest, LengthsGarbageAndPartsAreRefused) {
    const CipherCase& c = GetParam();
    CK_SESSION_HANDLE session = LoginUser();
    const Pair pair = Create(session, Pkcs1Key());
    Mechanism mechanism = MechanismFor(c);
    Bytes out;
    EXPECT_RV(CKR_DATA_LEN_RANGE, Crypt(session, mechanism.Get(), pair.publicKey, TestData(c.maxData + 1), out, false));
    EXPECT_RV(CKR_ENCRYPTED_DATA_LEN_RANGE, Crypt(session, mechanism.Get(), pair.privateKey, Bytes(127, 1), out, true));
    EXPECT_RV(CKR_ENCRYPTED_DATA_LEN_RANGE, Crypt(session, mechanism.Get(), pair.privateKey, Bytes(129, 1), out, true));
    // A block below the modulus that no padding produced; raw decryption has no padding to fail.
    const Bytes garbage = Concat({0x42}, TestData(127, 9));
    EXPECT_RV(c.padding == RSA_NO_PADDING ? CKR_OK : CKR_ENCRYPTED_DATA_INVALID,
              Crypt(session, mechanism.Get(), pair.privateKey, garbage, out, true));

    CK_MECHANISM m = mechanism.Get();
    Bytes data(16, 1), buffer(256);
    CK_ULONG length = buffer.size();
    ASSERT_RV(CKR_OK, f->C_EncryptInit(session, &m, pair.publicKey));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, f->C_EncryptUpdate(session, data.data(), 16, buffer.data(), &length));
    ASSERT_RV(CKR_OK, f->C_DecryptInit(session, &m, pair.privateKey));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, f->C_DecryptFinal(session, buffer.data(), &length));
}

INSTANTIATE_TEST_SUITE_P(Mechanisms, RsaCipherTest, ::testing::ValuesIn(kCipherCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RsaMechanismsTest, OaepWithAHashTooLongForTheKeyTakesNoData) {
    CK_SESSION_HANDLE session = LoginUser();
    const Pair pair = Create(session, Pkcs1Key());
    Mechanism oaep = Mechanism::Oaep(CKM_SHA512);
    Bytes out;
    EXPECT_RV(CKR_DATA_LEN_RANGE, Crypt(session, oaep.Get(), pair.publicKey, Bytes(1, 1), out, false));
}

// ---- Wrapping secret keys ----

class RsaWrapTest : public RsaMechanismsTest, public ::testing::WithParamInterface<CipherCase> {};

TEST_P(RsaWrapTest, WrapsASecretKeyThatOpenSslAndTheTokenUnwrap) {
    const CipherCase& c = GetParam();
    CK_SESSION_HANDLE session = LoginUser();
    const RsaParts parts = Pkcs1Key();
    const Pair pair = Create(session, parts);
    Pkey openSsl = OpenSslRsaKey(parts);
    Mechanism mechanism = MechanismFor(c);
    CK_MECHANISM m = mechanism.Get();

    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE generic = CKK_GENERIC_SECRET;
    Bytes value = TestData(32, 11);
    CK_ATTRIBUTE secretTemplate[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                     {CKA_KEY_TYPE, &generic, sizeof generic},
                                     {CKA_VALUE, value.data(), value.size()},
                                     {CKA_EXTRACTABLE, &Value::True, 1}};
    CK_OBJECT_HANDLE secret = 0;
    ASSERT_RV(CKR_OK, f->C_CreateObject(session, secretTemplate, 4, &secret));

    CK_ULONG length = 0;
    ASSERT_RV(CKR_OK, f->C_WrapKey(session, &m, pair.publicKey, secret, nullptr, &length));
    ASSERT_EQ(128u, length);
    Bytes wrapped(length);
    ASSERT_RV(CKR_OK, f->C_WrapKey(session, &m, pair.publicKey, secret, wrapped.data(), &length));
    EXPECT_EQ(value, OpenSslDecrypt(openSsl.get(), c, wrapped));

    CK_ATTRIBUTE unwrapTemplate[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                     {CKA_KEY_TYPE, &generic, sizeof generic},
                                     {CKA_SENSITIVE, &Value::False, 1},
                                     {CKA_EXTRACTABLE, &Value::True, 1}};
    CK_OBJECT_HANDLE unwrapped = 0;
    ASSERT_RV(CKR_OK, f->C_UnwrapKey(session, &m, pair.privateKey, wrapped.data(), wrapped.size(), unwrapTemplate, 4,
                                     &unwrapped));
    EXPECT_EQ(value, Attribute(session, unwrapped, CKA_VALUE));
    EXPECT_EQ(32u, UlongAttribute(session, unwrapped, CKA_VALUE_LEN));
    EXPECT_EQ(Bytes{CK_FALSE}, Attribute(session, unwrapped, CKA_LOCAL));

    Bytes garbage = Concat({0x42}, TestData(127, 5));
    EXPECT_RV(CKR_WRAPPED_KEY_INVALID, f->C_UnwrapKey(session, &m, pair.privateKey, garbage.data(), garbage.size(),
                                                      unwrapTemplate, 4, &unwrapped));
    EXPECT_RV(CKR_WRAPPED_KEY_LEN_RANGE,
              f->C_UnwrapKey(session, &m, pair.privateKey, wrapped.data(), 127, unwrapTemplate, 4, &unwrapped));
}

const CipherCase kWrapCases[] = {kCipherCases[0], kCipherCases[2], kCipherCases[4]};

INSTANTIATE_TEST_SUITE_P(Mechanisms, RsaWrapTest, ::testing::ValuesIn(kWrapCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RsaMechanismsTest, APrivateKeyIsTooLongToWrapWithRsa) {
    CK_SESSION_HANDLE session = LoginUser();
    const Pair pair = Create(session, Pkcs1Key(), true);
    CK_MECHANISM m = {CKM_RSA_PKCS, nullptr, 0};
    CK_ULONG length = 0;
    EXPECT_RV(CKR_KEY_SIZE_RANGE, f->C_WrapKey(session, &m, pair.publicKey, pair.privateKey, nullptr, &length));
}

// ---- What C_CreateObject checks on RSA keys ----

struct CreateCase {
    const char* what;
    CK_OBJECT_CLASS keyClass;
    void (*change)(RsaParts&);
    CK_RV rv;
};

Bytes Plus(Bytes number, unsigned char add) {
    number.back() = static_cast<unsigned char>(number.back() + add);
    return number;
}

const CreateCase kCreateCases[] = {
    {"public key", CKO_PUBLIC_KEY, [](RsaParts&) {}, CKR_OK},
    {"private key", CKO_PRIVATE_KEY, [](RsaParts&) {}, CKR_OK},
    {"private key without CRT values", CKO_PRIVATE_KEY,
     [](RsaParts& p) { p.prime1 = p.prime2 = p.exponent1 = p.exponent2 = p.coefficient = {}; }, CKR_OK},
    {"even modulus", CKO_PUBLIC_KEY, [](RsaParts& p) { p.modulus = Plus(p.modulus, 1); }, CKR_ATTRIBUTE_VALUE_INVALID},
    {"zero modulus", CKO_PUBLIC_KEY, [](RsaParts& p) { p.modulus = Bytes(128, 0); }, CKR_ATTRIBUTE_VALUE_INVALID},
    {"even exponent", CKO_PUBLIC_KEY, [](RsaParts& p) { p.publicExponent = {1, 0, 2}; }, CKR_ATTRIBUTE_VALUE_INVALID},
    {"exponent one", CKO_PUBLIC_KEY, [](RsaParts& p) { p.publicExponent = {1}; }, CKR_ATTRIBUTE_VALUE_INVALID},
    {"exponent above the modulus", CKO_PUBLIC_KEY, [](RsaParts& p) { p.publicExponent = Bytes(129, 0xFF); },
     CKR_ATTRIBUTE_VALUE_INVALID},
    {"private exponent above the modulus", CKO_PRIVATE_KEY,
     [](RsaParts& p) { p.privateExponent = Bytes(129, 0x01); }, CKR_ATTRIBUTE_VALUE_INVALID},
    {"primes that do not make the modulus", CKO_PRIVATE_KEY, [](RsaParts& p) { p.prime1 = Plus(p.prime1, 2); },
     CKR_ATTRIBUTE_VALUE_INVALID},
    {"private key with an even modulus", CKO_PRIVATE_KEY, [](RsaParts& p) { p.modulus = Plus(p.modulus, 1); },
     CKR_ATTRIBUTE_VALUE_INVALID},
};

TEST_F(RsaMechanismsTest, CreateObjectChecksTheComponents) {
    CK_SESSION_HANDLE session = LoginUser();
    for (const CreateCase& c : kCreateCases) {
        SCOPED_TRACE(c.what);
        RsaParts parts = Pkcs1Key();
        c.change(parts);
        CK_OBJECT_HANDLE key = 0;
        const auto values = c.keyClass == CKO_PUBLIC_KEY ? PublicValues(parts) : PrivateValues(parts, false);
        ASSERT_RV(c.rv, CreateKey(session, c.keyClass, values, key));
        if (c.rv != CKR_OK) continue;
        if (c.keyClass == CKO_PUBLIC_KEY) {
            EXPECT_EQ(1024u, UlongAttribute(session, key, CKA_MODULUS_BITS));
        }
        Bytes signature;
        if (c.keyClass == CKO_PRIVATE_KEY) {
            CK_MECHANISM sha1 = {CKM_SHA1_RSA_PKCS, nullptr, 0};
            ASSERT_RV(CKR_OK, Sign(session, sha1, key, Hex(kPkcs1Message), signature));
            EXPECT_EQ(Hex(kPkcs1Signature), signature);
        }
    }
    // The token fills CKA_MODULUS_BITS; a template may not.
    RsaParts parts = Pkcs1Key();
    CK_ULONG bits = 1024;
    auto values = PublicValues(parts);
    values.push_back({CKA_MODULUS_BITS, &bits, sizeof bits});
    CK_OBJECT_HANDLE key = 0;
    EXPECT_RV(CKR_ATTRIBUTE_READ_ONLY, CreateKey(session, CKO_PUBLIC_KEY, values, key));
}

// Through the entries: an extractable RSA private key wrapped with AES key wrap (padded) and
// unwrapped again signs to the same known answer.
TEST_F(RsaMechanismsTest, PrivateKeyWrapsWithAesAndUnwrapsIntoAWorkingKey) {
    CK_SESSION_HANDLE session = LoginUser();
    const Pair pair = Create(session, Pkcs1Key(), true);
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY, privateClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE aes = CKK_AES, rsa = CKK_RSA;
    Bytes value = TestData(32, 17);
    CK_ATTRIBUTE aesTemplate[] = {{CKA_CLASS, &secretClass, sizeof secretClass}, {CKA_KEY_TYPE, &aes, sizeof aes},
                                  {CKA_VALUE, value.data(), value.size()},   {CKA_WRAP, &Value::True, 1},
                                  {CKA_UNWRAP, &Value::True, 1}};
    CK_OBJECT_HANDLE wrappingKey = 0;
    ASSERT_RV(CKR_OK, f->C_CreateObject(session, aesTemplate, 5, &wrappingKey));
    CK_MECHANISM wrapPad = {CKM_AES_KEY_WRAP_PAD, nullptr, 0};
    CK_ULONG length = 0;
    ASSERT_RV(CKR_OK, f->C_WrapKey(session, &wrapPad, wrappingKey, pair.privateKey, nullptr, &length));
    Bytes wrapped(length);
    ASSERT_RV(CKR_OK, f->C_WrapKey(session, &wrapPad, wrappingKey, pair.privateKey, wrapped.data(), &length));
    wrapped.resize(length);

    CK_ATTRIBUTE unwrapTemplate[] = {{CKA_CLASS, &privateClass, sizeof privateClass},
                                     {CKA_KEY_TYPE, &rsa, sizeof rsa}, {CKA_SIGN, &Value::True, 1}};
    CK_OBJECT_HANDLE unwrapped = 0;
    ASSERT_RV(CKR_OK, f->C_UnwrapKey(session, &wrapPad, wrappingKey, wrapped.data(), wrapped.size(), unwrapTemplate,
                                     3, &unwrapped));
    EXPECT_EQ(Hex(kPkcs1Modulus), Attribute(session, unwrapped, CKA_MODULUS));
    CK_MECHANISM sha1 = {CKM_SHA1_RSA_PKCS, nullptr, 0};
    Bytes signature;
    ASSERT_RV(CKR_OK, Sign(session, sha1, unwrapped, Hex(kPkcs1Message), signature));
    EXPECT_EQ(Hex(kPkcs1Signature), signature);
}

// The private key row's PKCS#8 form, as C_WrapKey takes it and C_UnwrapKey gives it back: the
// unwrapped key's template is completed first, then its values come from the PrivateKeyInfo.
TEST(RsaKeyRow, Pkcs8FormGivesBackEveryComponent) {
    const softtoken::KeyTypeRow* row = softtoken::KeyTypes::Find(CKO_PRIVATE_KEY, CKK_RSA);
    ASSERT_NE(nullptr, row);
    ASSERT_NE(nullptr, row->toPkcs8);
    ASSERT_NE(nullptr, row->fromPkcs8);
    const RsaParts parts = Pkcs1Key();
    softtoken::Object source;
    source.SetUlong(CKA_CLASS, CKO_PRIVATE_KEY);
    source.SetUlong(CKA_KEY_TYPE, CKK_RSA);
    const std::pair<CK_ATTRIBUTE_TYPE, const Bytes*> values[] = {
        {CKA_MODULUS, &parts.modulus},     {CKA_PUBLIC_EXPONENT, &parts.publicExponent},
        {CKA_PRIVATE_EXPONENT, &parts.privateExponent}, {CKA_PRIME_1, &parts.prime1},
        {CKA_PRIME_2, &parts.prime2},      {CKA_EXPONENT_1, &parts.exponent1},
        {CKA_EXPONENT_2, &parts.exponent2}, {CKA_COEFFICIENT, &parts.coefficient}};
    for (const auto& [type, value] : values) source.Set(type, *value);
    const Bytes der = row->toPkcs8(source);

    softtoken::Object unwrapped;
    unwrapped.SetUlong(CKA_CLASS, CKO_PRIVATE_KEY);
    unwrapped.SetUlong(CKA_KEY_TYPE, CKK_RSA);
    softtoken::ObjectPolicy::Complete(unwrapped, softtoken::ObjectPolicy::Origin::Generate);
    row->fromPkcs8(der, unwrapped);
    row->check(unwrapped);
    for (const auto& [type, value] : values) EXPECT_EQ(*value, unwrapped.Get(type)) << type;

    softtoken::Object other;
    Bytes corrupt = der;
    corrupt.pop_back();
    try {
        row->fromPkcs8(corrupt, other);
        ADD_FAILURE() << "a truncated PrivateKeyInfo was taken";
    } catch (const crypto::CryptoError& error) {
        EXPECT_RV(CKR_WRAPPED_KEY_INVALID, error.Rv());
    }
}

}  // namespace
}  // namespace softtoken_test
