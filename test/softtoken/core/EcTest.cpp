// EC and Ed25519 keys through the function list: known answers (RFC 6979 ECDSA signatures,
// RFC 8032 Ed25519, NIST CAVP ECC CDH), key pairs on every curve with OID and named-curve
// parameters, signatures checked by OpenSSL both ways, ECDH on both sides, and the codes
// for bad parameters, values and lengths.
#include "SoftTokenFixture.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <algorithm>
#include <memory>
#include <string>

namespace softtoken_test {
namespace {

Bytes FromHex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes Cat(const Bytes& a, const Bytes& b) {
    Bytes out(a.size() + b.size());
    std::copy(a.begin(), a.end(), out.begin());
    std::copy(b.begin(), b.end(), out.begin() + static_cast<std::ptrdiff_t>(a.size()));
    return out;
}

Bytes OctetString(const Bytes& content) {
    Bytes out = {0x04};
    if (content.size() >= 0x80) out.push_back(0x81);
    out.push_back(static_cast<unsigned char>(content.size()));
    return Cat(out, content);
}

Bytes Printable(const std::string& name) {
    Bytes out = {0x13, static_cast<unsigned char>(name.size())};
    return Cat(out, Bytes(name.begin(), name.end()));
}

const Bytes kP256 = FromHex("06082A8648CE3D030107");
const Bytes kP384 = FromHex("06052B81040022");
const Bytes kP521 = FromHex("06052B81040023");
const Bytes kEd25519 = FromHex("06032B6570");

Bytes Sha(const char* name, const Bytes& data) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EXPECT_EQ(1, EVP_Digest(data.data(), data.size(), out.data(), &length, EVP_get_digestbyname(name), nullptr));
    out.resize(length);
    return out;
}

using Pkey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using EcKey = std::unique_ptr<EC_KEY, decltype(&EC_KEY_free)>;

// OpenSSL's own EC code on a key of the curve, whatever engine the test process made the
// default (the host engine runs take over every EC context): EC_KEY with OpenSSL's method.
EcKey OpenSslEcKey(const char* group, const Bytes& point = {}) {
    EcKey key(EC_KEY_new_by_curve_name(OBJ_sn2nid(group)), EC_KEY_free);
    EC_KEY_set_method(key.get(), EC_KEY_OpenSSL());
    if (point.empty()) EC_KEY_generate_key(key.get());
    else if (EC_KEY_oct2key(key.get(), point.data(), point.size(), nullptr) != 1) key.reset();
    return key;
}

Bytes RawPoint(EC_KEY* key) {
    unsigned char* buffer = nullptr;
    const size_t length = EC_KEY_key2buf(key, POINT_CONVERSION_UNCOMPRESSED, &buffer, nullptr);
    Bytes point(buffer, buffer + length);
    OPENSSL_free(buffer);
    return point;
}

bool OpenSslVerifies(EC_KEY* key, const Bytes& hash, const Bytes& signature) {
    const int half = static_cast<int>(signature.size() / 2);
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(signature.data(), half, nullptr), BN_bin2bn(signature.data() + half, half, nullptr));
    const bool ok = ECDSA_do_verify(hash.data(), static_cast<int>(hash.size()), sig, key) == 1;
    ECDSA_SIG_free(sig);
    return ok;
}

Bytes OpenSslSign(EC_KEY* key, const Bytes& hash, size_t fieldBytes) {
    ECDSA_SIG* sig = ECDSA_do_sign(hash.data(), static_cast<int>(hash.size()), key);
    Bytes out(2 * fieldBytes);
    BN_bn2binpad(ECDSA_SIG_get0_r(sig), out.data(), static_cast<int>(fieldBytes));
    BN_bn2binpad(ECDSA_SIG_get0_s(sig), out.data() + fieldBytes, static_cast<int>(fieldBytes));
    ECDSA_SIG_free(sig);
    return out;
}

struct Curve {
    const char* group;
    Bytes oid;
    std::string name;  // as a PrintableString names it
    size_t fieldBytes;
};

const Curve kCurves[] = {
    {"prime256v1", kP256, "prime256v1", 32},
    {"secp384r1", kP384, "secp384r1", 48},
    {"secp521r1", kP521, "secp521r1", 66},
};

class EcTest : public SoftTokenTest {
protected:
    CK_RV GeneratePair(CK_SESSION_HANDLE session, CK_MECHANISM_TYPE type, const Bytes& params,
                       CK_OBJECT_HANDLE& publicKey, CK_OBJECT_HANDLE& privateKey) {
        CK_MECHANISM mechanism = {type, nullptr, 0};
        Bytes ecParams = params;
        std::vector<CK_ATTRIBUTE> publicTemplate = {{CKA_VERIFY, &Value::True, 1}, {CKA_DERIVE, &Value::True, 1}};
        if (!ecParams.empty()) publicTemplate.push_back({CKA_EC_PARAMS, ecParams.data(), ecParams.size()});
        CK_ATTRIBUTE privateTemplate[] = {{CKA_SIGN, &Value::True, 1}, {CKA_DERIVE, &Value::True, 1},
                                          {CKA_SENSITIVE, &Value::True, 1}};
        return f->C_GenerateKeyPair(session, &mechanism, publicTemplate.data(), publicTemplate.size(), privateTemplate, 3,
                                    &publicKey, &privateKey);
    }

    CK_RV CreateKey(CK_SESSION_HANDLE session, CK_OBJECT_CLASS keyClass, CK_KEY_TYPE keyType, const Bytes& params,
                    CK_ATTRIBUTE_TYPE valueType, const Bytes& value, CK_OBJECT_HANDLE& key) {
        Bytes ecParams = params, keyValue = value;
        std::vector<CK_ATTRIBUTE> attributes = {
            {CKA_CLASS, &keyClass, sizeof keyClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType},
            {keyClass == CKO_PUBLIC_KEY ? CKA_VERIFY : CKA_SIGN, &Value::True, 1}, {CKA_DERIVE, &Value::True, 1}};
        if (!ecParams.empty()) attributes.push_back({CKA_EC_PARAMS, ecParams.data(), ecParams.size()});
        if (!keyValue.empty()) attributes.push_back({valueType, keyValue.data(), keyValue.size()});
        return f->C_CreateObject(session, attributes.data(), attributes.size(), &key);
    }

    CK_OBJECT_HANDLE Public(CK_SESSION_HANDLE session, CK_KEY_TYPE type, const Bytes& params, const Bytes& point) {
        CK_OBJECT_HANDLE key = 0;
        EXPECT_RV(CKR_OK, CreateKey(session, CKO_PUBLIC_KEY, type, params, CKA_EC_POINT, point, key));
        return key;
    }

    CK_OBJECT_HANDLE Private(CK_SESSION_HANDLE session, CK_KEY_TYPE type, const Bytes& params, const Bytes& value) {
        CK_OBJECT_HANDLE key = 0;
        EXPECT_RV(CKR_OK, CreateKey(session, CKO_PRIVATE_KEY, type, params, CKA_VALUE, value, key));
        return key;
    }

    CK_RV Derive(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE base, CK_ULONG kdf, const Bytes& publicData,
                 const Bytes& sharedData, CK_ULONG length, Bytes& secret) {
        Bytes peer = publicData, shared = sharedData;
        CK_ECDH1_DERIVE_PARAMS params = {kdf, shared.size(), shared.empty() ? nullptr : shared.data(), peer.size(),
                                         peer.data()};
        CK_MECHANISM mechanism = {CKM_ECDH1_DERIVE, &params, sizeof params};
        CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
        CK_KEY_TYPE keyType = CKK_GENERIC_SECRET;
        CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &secretClass, sizeof secretClass},
                                     {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                     {CKA_SENSITIVE, &Value::False, 1}, {CKA_EXTRACTABLE, &Value::True, 1},
                                     {CKA_VALUE_LEN, &length, sizeof length}};
        CK_OBJECT_HANDLE key = 0;
        const CK_RV rv = f->C_DeriveKey(session, &mechanism, base, attributes, 5, &key);
        if (rv == CKR_OK) secret = Attribute(session, key, CKA_VALUE);
        return rv;
    }
};

TEST_F(EcTest, MechanismInfoGivesSizesAndFlags) {
    struct Row {
        CK_MECHANISM_TYPE type;
        CK_ULONG minSize, maxSize;
        CK_FLAGS flags;
    } rows[] = {
        {CKM_EC_KEY_PAIR_GEN, 256, 521, CKF_GENERATE_KEY_PAIR | CKF_EC_F_P | CKF_EC_NAMEDCURVE | CKF_EC_UNCOMPRESS},
        {CKM_ECDSA, 256, 521, CKF_SIGN | CKF_VERIFY},
        {CKM_ECDSA_SHA1, 256, 521, CKF_SIGN | CKF_VERIFY},
        {CKM_ECDSA_SHA512, 256, 521, CKF_SIGN | CKF_VERIFY},
        {CKM_ECDH1_DERIVE, 256, 521, CKF_DERIVE},
        {CKM_EC_EDWARDS_KEY_PAIR_GEN, 255, 255, CKF_GENERATE_KEY_PAIR},
        {CKM_EDDSA, 255, 255, CKF_SIGN | CKF_VERIFY},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.type);
        CK_MECHANISM_INFO info = {};
        ASSERT_RV(CKR_OK, f->C_GetMechanismInfo(0, row.type, &info));
        EXPECT_EQ(row.minSize, info.ulMinKeySize);
        EXPECT_EQ(row.maxSize, info.ulMaxKeySize);
        EXPECT_EQ(row.flags, info.flags & row.flags);
    }
}

TEST_F(EcTest, KeyPairsOnEveryCurveSignForOpensslAndVerifyItsSignatures) {
    CK_SESSION_HANDLE session = LoginUser();
    for (const Curve& curve : kCurves) {
        for (const Bytes& params : {curve.oid, Printable(curve.name)}) {
            SCOPED_TRACE(curve.group + std::string(params[0] == 0x06 ? " OID" : " name"));
            CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
            ASSERT_RV(CKR_OK, GeneratePair(session, CKM_EC_KEY_PAIR_GEN, params, publicKey, privateKey));
            EXPECT_EQ(params, Attribute(session, publicKey, CKA_EC_PARAMS));
            EXPECT_EQ(params, Attribute(session, privateKey, CKA_EC_PARAMS));
            EXPECT_EQ(CKK_EC, UlongAttribute(session, privateKey, CKA_KEY_TYPE));
            EXPECT_EQ(CKM_EC_KEY_PAIR_GEN, UlongAttribute(session, privateKey, CKA_KEY_GEN_MECHANISM));
            EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, privateKey, CKA_LOCAL));
            CK_ATTRIBUTE secret = {CKA_VALUE, nullptr, 0};
            EXPECT_RV(CKR_ATTRIBUTE_SENSITIVE, f->C_GetAttributeValue(session, privateKey, &secret, 1));
            const Bytes ecPoint = Attribute(session, publicKey, CKA_EC_POINT);
            const Bytes point(ecPoint.begin() + (ecPoint.size() - (1 + 2 * curve.fieldBytes)), ecPoint.end());
            ASSERT_EQ(OctetString(point), ecPoint);
            ASSERT_EQ(0x04, point[0]);
            EcKey openSslKey = OpenSslEcKey(curve.group, point);
            ASSERT_TRUE(openSslKey);

            const Bytes data = {'s', 'i', 'g', 'n', ' ', 'm', 'e'};
            const CK_MECHANISM sha256 = {CKM_ECDSA_SHA256, nullptr, 0};
            Bytes signature;
            ASSERT_RV(CKR_OK, Sign(session, sha256, privateKey, data, signature));
            ASSERT_EQ(2 * curve.fieldBytes, signature.size());
            EXPECT_TRUE(OpenSslVerifies(openSslKey.get(), Sha("SHA256", data), signature));
            EXPECT_RV(CKR_OK, Verify(session, sha256, publicKey, data, signature));

            // And back: OpenSSL's key signs, the token verifies with the public key object.
            EcKey openSslPair = OpenSslEcKey(curve.group);
            const Bytes hash = Sha("SHA384", data);
            const CK_OBJECT_HANDLE imported = Public(session, CKK_EC, params, RawPoint(openSslPair.get()));
            const CK_MECHANISM raw = {CKM_ECDSA, nullptr, 0};
            EXPECT_RV(CKR_OK, Verify(session, raw, imported, hash, OpenSslSign(openSslPair.get(), hash, curve.fieldBytes)));
        }
    }
}

struct EcdsaVector {
    const char* title;
    const Curve& curve;
    CK_MECHANISM_TYPE mechanism;
    const char* digest;
    std::string message;
    const char* privateValue;
    const char* point;  // X||Y
    const char* signature;  // r||s
};

// RFC 6979, A.2.5 (P-256) and A.2.6 (P-384): deterministic signatures any verifier accepts.
const EcdsaVector kEcdsaVectors[] = {
    {"P-256 SHA-256 sample", kCurves[0], CKM_ECDSA_SHA256, "SHA256", "sample",
     "C9AFA9D845BA75166B5C215767B1D6934E50C3DB36E89B127B8A622B120F6721",
     "60FED4BA255A9D31C961EB74C6356D68C049B8923B61FA6CE669622E60F29FB6"
     "7903FE1008B8BC99A41AE9E95628BC64F2F1B20C2D7E9F5177A3C294D4462299",
     "EFD48B2AACB6A8FD1140DD9CD45E81D69D2C877B56AAF991C34D0EA84EAF3716"
     "F7CB1C942D657C41D436C7A1B6E29F65F3E900DBB9AFF4064DC4AB2F843ACDA8"},
    {"P-256 SHA-256 test", kCurves[0], CKM_ECDSA_SHA256, "SHA256", "test",
     "C9AFA9D845BA75166B5C215767B1D6934E50C3DB36E89B127B8A622B120F6721",
     "60FED4BA255A9D31C961EB74C6356D68C049B8923B61FA6CE669622E60F29FB6"
     "7903FE1008B8BC99A41AE9E95628BC64F2F1B20C2D7E9F5177A3C294D4462299",
     "F1ABB023518351CD71D881567B1EA663ED3EFCF6C5132B354F28D3B0B7D38367"
     "019F4113742A2B14BD25926B49C649155F267E60D3814B4C0CC84250E46F0083"},
    {"P-384 SHA-384 sample", kCurves[1], CKM_ECDSA_SHA384, "SHA384", "sample",
     "6B9D3DAD2E1B8C1C05B19875B6659F4DE23C3B667BF297BA9AA47740787137D896D5724E4C70A825F872C9EA60D2EDF5",
     "EC3A4E415B4E19A4568618029F427FA5DA9A8BC4AE92E02E06AAE5286B300C64DEF8F0EA9055866064A254515480BC13"
     "8015D9B72D7D57244EA8EF9AC0C621896708A59367F9DFB9F54CA84B3F1C9DB1288B231C3AE0D4FE7344FD2533264720",
     "94EDBB92A5ECB8AAD4736E56C691916B3F88140666CE9FA73D64C4EA95AD133C81A648152E44ACF96E36DD1E80FABE46"
     "99EF4AEB15F178CEA1FE40DB2603138F130E740A19624526203B6351D0A3A94FA329C145786E679E7B82C71A38628AC8"},
};

TEST_F(EcTest, EcdsaKnownAnswersVerifyAndSignaturesOfTheSameKeysToo) {
    CK_SESSION_HANDLE session = LoginUser();
    for (const EcdsaVector& vector : kEcdsaVectors) {
        SCOPED_TRACE(vector.title);
        const Bytes point = Cat({0x04}, FromHex(vector.point));
        const Bytes message(vector.message.begin(), vector.message.end());
        const Bytes expected = FromHex(vector.signature);
        // The raw point and its DER form are both accepted; the object keeps the DER form.
        const CK_OBJECT_HANDLE raw = Public(session, CKK_EC, vector.curve.oid, point);
        const CK_OBJECT_HANDLE der = Public(session, CKK_EC, vector.curve.oid, OctetString(point));
        EXPECT_EQ(OctetString(point), Attribute(session, raw, CKA_EC_POINT));
        const CK_MECHANISM hashing = {vector.mechanism, nullptr, 0};
        const CK_MECHANISM overHash = {CKM_ECDSA, nullptr, 0};
        for (CK_OBJECT_HANDLE key : {raw, der}) {
            EXPECT_RV(CKR_OK, Verify(session, hashing, key, message, expected));
            EXPECT_RV(CKR_OK, Verify(session, overHash, key, Sha(vector.digest, message), expected));
            Bytes corrupt = expected;
            corrupt[corrupt.size() - 1] ^= 0x01;
            EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, hashing, key, message, corrupt));
            EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, hashing, key, Cat(message, {'!'}), expected));
        }
        // The private value signs (randomised), the known public key verifies.
        const CK_OBJECT_HANDLE privateKey = Private(session, CKK_EC, vector.curve.oid, FromHex(vector.privateValue));
        Bytes signature;
        ASSERT_RV(CKR_OK, Sign(session, hashing, privateKey, message, signature));
        EXPECT_RV(CKR_OK, Verify(session, hashing, raw, message, signature));
        EXPECT_TRUE(OpenSslVerifies(OpenSslEcKey(vector.curve.group, point).get(), Sha(vector.digest, message), signature));
    }
}

TEST_F(EcTest, HashingMechanismsTakeTheirDataInParts) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    ASSERT_RV(CKR_OK, GeneratePair(session, CKM_EC_KEY_PAIR_GEN, kP256, publicKey, privateKey));
    const Bytes ecPoint = Attribute(session, publicKey, CKA_EC_POINT);
    const Bytes point(ecPoint.begin() + 2, ecPoint.end());
    EcKey openSslKey = OpenSslEcKey("prime256v1", point);
    Bytes data(300);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7);
    const struct {
        CK_MECHANISM_TYPE type;
        const char* digest;
    } rows[] = {{CKM_ECDSA_SHA1, "SHA1"},     {CKM_ECDSA_SHA224, "SHA224"}, {CKM_ECDSA_SHA256, "SHA256"},
                {CKM_ECDSA_SHA384, "SHA384"}, {CKM_ECDSA_SHA512, "SHA512"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.digest);
        CK_MECHANISM mechanism = {row.type, nullptr, 0};
        ASSERT_RV(CKR_OK, f->C_SignInit(session, &mechanism, privateKey));
        ASSERT_RV(CKR_OK, f->C_SignUpdate(session, data.data(), 100));
        ASSERT_RV(CKR_OK, f->C_SignUpdate(session, data.data() + 100, 0));
        ASSERT_RV(CKR_OK, f->C_SignUpdate(session, data.data() + 100, 200));
        Bytes signature(64);
        CK_ULONG length = 10;
        EXPECT_RV(CKR_BUFFER_TOO_SMALL, f->C_SignFinal(session, signature.data(), &length));
        EXPECT_EQ(64u, length);
        ASSERT_RV(CKR_OK, f->C_SignFinal(session, signature.data(), &length));
        EXPECT_TRUE(OpenSslVerifies(openSslKey.get(), Sha(row.digest, data), signature));
        ASSERT_RV(CKR_OK, f->C_VerifyInit(session, &mechanism, publicKey));
        ASSERT_RV(CKR_OK, f->C_VerifyUpdate(session, data.data(), 150));
        ASSERT_RV(CKR_OK, f->C_VerifyUpdate(session, data.data() + 150, 150));
        EXPECT_RV(CKR_OK, f->C_VerifyFinal(session, signature.data(), signature.size()));
    }
    // CKM_ECDSA takes its hash in one piece.
    CK_MECHANISM raw = {CKM_ECDSA, nullptr, 0};
    ASSERT_RV(CKR_OK, f->C_SignInit(session, &raw, privateKey));
    EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, f->C_SignUpdate(session, data.data(), 32));
}

TEST_F(EcTest, WrongLengthsAndKeysAreRefused) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0, edPublic = 0, edPrivate = 0;
    ASSERT_RV(CKR_OK, GeneratePair(session, CKM_EC_KEY_PAIR_GEN, kP384, publicKey, privateKey));
    ASSERT_RV(CKR_OK, GeneratePair(session, CKM_EC_EDWARDS_KEY_PAIR_GEN, kEd25519, edPublic, edPrivate));
    const CK_MECHANISM raw = {CKM_ECDSA, nullptr, 0};
    Bytes signature;
    for (size_t size : {0u, 65u, 100u}) {
        SCOPED_TRACE(size);
        EXPECT_RV(CKR_DATA_LEN_RANGE, Sign(session, raw, privateKey, Bytes(size, 1), signature));
    }
    for (size_t size : {1u, 20u, 48u, 64u}) {
        SCOPED_TRACE(size);
        ASSERT_RV(CKR_OK, Sign(session, raw, privateKey, Bytes(size, 1), signature));
        EXPECT_EQ(96u, signature.size());
        EXPECT_RV(CKR_OK, Verify(session, raw, publicKey, Bytes(size, 1), signature));
    }
    const Bytes hash(48, 3);
    EXPECT_RV(CKR_SIGNATURE_LEN_RANGE, Verify(session, raw, publicKey, hash, Bytes(95, 1)));
    EXPECT_RV(CKR_SIGNATURE_LEN_RANGE, Verify(session, raw, publicKey, hash, Bytes(97, 1)));
    EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, raw, publicKey, hash, Bytes(96, 0)));
    // The length protocol: a short buffer learns the length and keeps the operation.
    CK_MECHANISM mechanism = raw;
    ASSERT_RV(CKR_OK, f->C_SignInit(session, &mechanism, privateKey));
    Bytes input = hash, out(96);
    CK_ULONG length = 95;
    EXPECT_RV(CKR_BUFFER_TOO_SMALL, f->C_Sign(session, input.data(), input.size(), out.data(), &length));
    EXPECT_EQ(96u, length);
    EXPECT_RV(CKR_OK, f->C_Sign(session, input.data(), input.size(), out.data(), &length));
    // Keys of the other family and parameters where none belong.
    EXPECT_RV(CKR_KEY_TYPE_INCONSISTENT, f->C_SignInit(session, &mechanism, edPrivate));
    CK_MECHANISM eddsa = {CKM_EDDSA, nullptr, 0};
    EXPECT_RV(CKR_KEY_TYPE_INCONSISTENT, f->C_SignInit(session, &eddsa, privateKey));
    CK_ULONG junk = 0;
    CK_MECHANISM withParameter = {CKM_ECDSA_SHA256, &junk, sizeof junk};
    EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, f->C_SignInit(session, &withParameter, privateKey));
    EXPECT_RV(CKR_KEY_TYPE_INCONSISTENT, f->C_SignInit(session, &mechanism, publicKey));
}

TEST_F(EcTest, KeyGenerationAndCreationRefuseBadParametersAndValues) {
    CK_SESSION_HANDLE session = LoginUser();
    const struct {
        const char* title;
        CK_MECHANISM_TYPE mechanism;
        Bytes params;
        CK_RV expected;
    } generation[] = {
        {"P-192, not supported", CKM_EC_KEY_PAIR_GEN, FromHex("06082A8648CE3D030101"), CKR_CURVE_NOT_SUPPORTED},
        {"explicit parameters", CKM_EC_KEY_PAIR_GEN, FromHex("3003020101"), CKR_CURVE_NOT_SUPPORTED},
        {"unknown curve name", CKM_EC_KEY_PAIR_GEN, Printable("secp256k2"), CKR_CURVE_NOT_SUPPORTED},
        {"truncated OID", CKM_EC_KEY_PAIR_GEN, FromHex("06082A8648CE3D03"), CKR_ATTRIBUTE_VALUE_INVALID},
        {"OID with trailing bytes", CKM_EC_KEY_PAIR_GEN, Cat(kP256, {0x00}), CKR_ATTRIBUTE_VALUE_INVALID},
        {"not DER", CKM_EC_KEY_PAIR_GEN, FromHex("FF01"), CKR_ATTRIBUTE_VALUE_INVALID},
        {"no curve", CKM_EC_KEY_PAIR_GEN, {}, CKR_TEMPLATE_INCOMPLETE},
        {"Ed25519 for an EC pair", CKM_EC_KEY_PAIR_GEN, kEd25519, CKR_CURVE_NOT_SUPPORTED},
        {"P-256 for an Edwards pair", CKM_EC_EDWARDS_KEY_PAIR_GEN, kP256, CKR_CURVE_NOT_SUPPORTED},
    };
    for (const auto& row : generation) {
        SCOPED_TRACE(row.title);
        CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
        EXPECT_RV(row.expected, GeneratePair(session, row.mechanism, row.params, publicKey, privateKey));
    }

    const Bytes order = FromHex("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551");
    Bytes offCurve = Cat({0x04}, FromHex(kEcdsaVectors[0].point));
    offCurve.back() ^= 1;
    const Bytes compressed = Cat({0x02}, Bytes(offCurve.begin() + 1, offCurve.begin() + 33));
    const struct {
        const char* title;
        CK_OBJECT_CLASS keyClass;
        CK_KEY_TYPE keyType;
        Bytes params;
        Bytes value;
        CK_RV expected;
    } creation[] = {
        {"point off the curve", CKO_PUBLIC_KEY, CKK_EC, kP256, offCurve, CKR_ATTRIBUTE_VALUE_INVALID},
        {"compressed point", CKO_PUBLIC_KEY, CKK_EC, kP256, compressed, CKR_ATTRIBUTE_VALUE_INVALID},
        {"point of another curve", CKO_PUBLIC_KEY, CKK_EC, kP384, OctetString(Cat({0x04}, FromHex(kEcdsaVectors[0].point))),
         CKR_ATTRIBUTE_VALUE_INVALID},
        {"no point", CKO_PUBLIC_KEY, CKK_EC, kP256, {}, CKR_TEMPLATE_INCOMPLETE},
        {"no parameters", CKO_PUBLIC_KEY, CKK_EC, {}, offCurve, CKR_TEMPLATE_INCOMPLETE},
        {"unknown curve", CKO_PUBLIC_KEY, CKK_EC, FromHex("06052B81040021"), offCurve, CKR_CURVE_NOT_SUPPORTED},
        {"private value zero", CKO_PRIVATE_KEY, CKK_EC, kP256, Bytes(32, 0), CKR_ATTRIBUTE_VALUE_INVALID},
        {"private value the order", CKO_PRIVATE_KEY, CKK_EC, kP256, order, CKR_ATTRIBUTE_VALUE_INVALID},
        {"private value too long", CKO_PRIVATE_KEY, CKK_EC, kP256, Bytes(33, 1), CKR_ATTRIBUTE_VALUE_INVALID},
        {"Ed25519 value of 31 bytes", CKO_PRIVATE_KEY, CKK_EC_EDWARDS, kEd25519, Bytes(31, 1), CKR_ATTRIBUTE_VALUE_INVALID},
        {"Ed25519 point of 33 bytes", CKO_PUBLIC_KEY, CKK_EC_EDWARDS, kEd25519, Bytes(33, 1), CKR_ATTRIBUTE_VALUE_INVALID},
        {"Ed25519 curve on an EC key", CKO_PUBLIC_KEY, CKK_EC, kEd25519, Bytes(32, 1), CKR_CURVE_NOT_SUPPORTED},
    };
    for (const auto& row : creation) {
        SCOPED_TRACE(row.title);
        CK_OBJECT_HANDLE key = 0;
        EXPECT_RV(row.expected, CreateKey(session, row.keyClass, row.keyType, row.params,
                                          row.keyClass == CKO_PUBLIC_KEY ? CKA_EC_POINT : CKA_VALUE, row.value, key));
    }
    // A short private value is a smaller number, and a key.
    CK_OBJECT_HANDLE key = 0;
    EXPECT_RV(CKR_OK, CreateKey(session, CKO_PRIVATE_KEY, CKK_EC, kP256, CKA_VALUE, {0x07}, key));
}

struct EddsaVector {
    const char* title;
    const char* secret;
    const char* publicKey;
    const char* message;
    const char* signature;
};

// RFC 8032, 7.1, tests 1 to 3.
const EddsaVector kEddsaVectors[] = {
    {"test 1", "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b46bd25bf5f0595bbe24655141438e7a100b"},
    {"test 2", "4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"test 3", "c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
     "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc6594a7c15e9716ed28dc027beceea1ec40a"},
};

TEST_F(EcTest, Ed25519KnownAnswersSignExactly) {
    CK_SESSION_HANDLE session = LoginUser();
    for (const EddsaVector& vector : kEddsaVectors) {
        for (const Bytes& params : {kEd25519, Printable("edwards25519")}) {
            SCOPED_TRACE(vector.title + std::string(params[0] == 0x06 ? " OID" : " name"));
            const CK_OBJECT_HANDLE privateKey = Private(session, CKK_EC_EDWARDS, params, FromHex(vector.secret));
            const CK_OBJECT_HANDLE publicKey = Public(session, CKK_EC_EDWARDS, params, OctetString(FromHex(vector.publicKey)));
            const Bytes message = FromHex(vector.message);
            const CK_MECHANISM eddsa = {CKM_EDDSA, nullptr, 0};
            Bytes signature;
            ASSERT_RV(CKR_OK, Sign(session, eddsa, privateKey, message, signature));
            EXPECT_EQ(FromHex(vector.signature), signature);
            EXPECT_RV(CKR_OK, Verify(session, eddsa, publicKey, message, signature));
            signature[5] ^= 0x20;
            EXPECT_RV(CKR_SIGNATURE_INVALID, Verify(session, eddsa, publicKey, message, signature));
            EXPECT_RV(CKR_SIGNATURE_LEN_RANGE, Verify(session, eddsa, publicKey, message, Bytes(63, 0)));
        }
    }
}

TEST_F(EcTest, Ed25519PairsAndTheirParameters) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    // No curve named: Ed25519.
    ASSERT_RV(CKR_OK, GeneratePair(session, CKM_EC_EDWARDS_KEY_PAIR_GEN, {}, publicKey, privateKey));
    EXPECT_EQ(kEd25519, Attribute(session, publicKey, CKA_EC_PARAMS));
    const Bytes ecPoint = Attribute(session, publicKey, CKA_EC_POINT);
    ASSERT_EQ(34u, ecPoint.size());
    EXPECT_EQ(CKK_EC_EDWARDS, UlongAttribute(session, publicKey, CKA_KEY_TYPE));
    const Bytes message(64, 0x42);
    const CK_MECHANISM eddsa = {CKM_EDDSA, nullptr, 0};
    Bytes signature;
    ASSERT_RV(CKR_OK, Sign(session, eddsa, privateKey, message, signature));
    // OpenSSL checks it from the public key alone.
    Pkey openSslKey(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, ecPoint.data() + 2, 32), EVP_PKEY_free);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EXPECT_EQ(1, EVP_DigestVerifyInit(ctx, nullptr, nullptr, nullptr, openSslKey.get()));
    EXPECT_EQ(1, EVP_DigestVerify(ctx, signature.data(), signature.size(), message.data(), message.size()));
    EVP_MD_CTX_free(ctx);

    struct EddsaParameter {
        CK_BBOOL phFlag;
        CK_ULONG contextLength;
        CK_BYTE_PTR context;
    };
    CK_BYTE context[3] = {1, 2, 3};
    const struct {
        const char* title;
        EddsaParameter parameter;
        CK_ULONG length;
        CK_RV expected;
    } rows[] = {
        {"pure Ed25519", {CK_FALSE, 0, nullptr}, sizeof(EddsaParameter), CKR_OK},
        {"prehash", {CK_TRUE, 0, nullptr}, sizeof(EddsaParameter), CKR_MECHANISM_PARAM_INVALID},
        {"context", {CK_FALSE, 3, context}, sizeof(EddsaParameter), CKR_MECHANISM_PARAM_INVALID},
        {"short parameter", {CK_FALSE, 0, nullptr}, sizeof(EddsaParameter) - 1, CKR_MECHANISM_PARAM_INVALID},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title);
        EddsaParameter parameter = row.parameter;
        CK_MECHANISM mechanism = {CKM_EDDSA, &parameter, row.length};
        EXPECT_RV(row.expected, f->C_SignInit(session, &mechanism, privateKey));
        if (row.expected == CKR_OK) {
            EXPECT_RV(CKR_FUNCTION_NOT_SUPPORTED, f->C_SignUpdate(session, context, 3));
        }
    }
}

TEST_F(EcTest, EcdhKnownAnswerAndBothSidesAgree) {
    CK_SESSION_HANDLE session = LoginUser();
    // NIST CAVP ECC CDH primitive, P-256, COUNT = 0.
    const Bytes peer = Cat({0x04}, FromHex("700c48f77f56584c5cc632ca65640db91b6bacce3a4df6b42ce7cc838833d287"
                                           "db71e509e3fd9b060ddb20ba5c51dcc5948d46fbf640dfe0441782cab85fa4ac"));
    const CK_OBJECT_HANDLE own =
        Private(session, CKK_EC, kP256, FromHex("7d7dc5f71eb29ddaf80d6214632eeae03d9058af1fb6d22ed80badb62bc1a534"));
    const Bytes z = FromHex("46fc62106420ff012e54a434fbdd2d25ccc5852060561e68040dd7778997bd7b");
    const Bytes info = {'i', 'n', 'f', 'o'};
    const Bytes one = {0, 0, 0, 1}, two = {0, 0, 0, 2};
    const Bytes x963 = Cat(Sha("SHA256", Cat(Cat(z, one), info)), Sha("SHA256", Cat(Cat(z, two), info)));
    const struct {
        const char* title;
        CK_ULONG kdf;
        Bytes publicData;
        Bytes sharedData;
        CK_ULONG length;
        Bytes expected;
    } rows[] = {
        {"raw point", CKD_NULL, peer, {}, 32, z},
        {"DER point", CKD_NULL, OctetString(peer), {}, 32, z},
        {"truncated to 16 bytes", CKD_NULL, peer, {}, 16, Bytes(z.begin(), z.begin() + 16)},
        {"SHA-256 KDF, two blocks", CKD_SHA256_KDF, peer, info, 48, Bytes(x963.begin(), x963.begin() + 48)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title);
        Bytes secret;
        ASSERT_RV(CKR_OK, Derive(session, own, row.kdf, row.publicData, row.sharedData, row.length, secret));
        EXPECT_EQ(row.expected, secret);
    }

    Bytes offCurve = peer;
    offCurve[10] ^= 1;
    const struct {
        const char* title;
        CK_ULONG kdf;
        Bytes publicData;
        Bytes sharedData;
    } refused[] = {
        {"point off the curve", CKD_NULL, offCurve, {}},
        {"no point", CKD_NULL, {}, {}},
        {"P-384 sized point", CKD_NULL, Bytes(97, 4), {}},
        {"shared data without a KDF", CKD_NULL, peer, info},
        {"unknown KDF", 0x55, peer, {}},
    };
    for (const auto& row : refused) {
        SCOPED_TRACE(row.title);
        Bytes secret;
        EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, Derive(session, own, row.kdf, row.publicData, row.sharedData, 32, secret));
    }
    CK_MECHANISM noParameter = {CKM_ECDH1_DERIVE, nullptr, 0};
    CK_KEY_TYPE keyType = CKK_GENERIC_SECRET;
    CK_ATTRIBUTE attributes[] = {{CKA_KEY_TYPE, &keyType, sizeof keyType}};
    CK_OBJECT_HANDLE key = 0;
    EXPECT_RV(CKR_MECHANISM_PARAM_INVALID, f->C_DeriveKey(session, &noParameter, own, attributes, 1, &key));

    // Two pairs made here on each curve: each side derives with the other's public point.
    for (const Curve& curve : kCurves) {
        SCOPED_TRACE(curve.group);
        CK_OBJECT_HANDLE publicA = 0, privateA = 0, publicB = 0, privateB = 0;
        ASSERT_RV(CKR_OK, GeneratePair(session, CKM_EC_KEY_PAIR_GEN, curve.oid, publicA, privateA));
        ASSERT_RV(CKR_OK, GeneratePair(session, CKM_EC_KEY_PAIR_GEN, curve.oid, publicB, privateB));
        Bytes secretA, secretB;
        ASSERT_RV(CKR_OK, Derive(session, privateA, CKD_NULL, Attribute(session, publicB, CKA_EC_POINT), {},
                                 curve.fieldBytes, secretA));
        ASSERT_RV(CKR_OK, Derive(session, privateB, CKD_NULL, Attribute(session, publicA, CKA_EC_POINT), {},
                                 curve.fieldBytes, secretB));
        EXPECT_EQ(curve.fieldBytes, secretA.size());
        EXPECT_EQ(secretA, secretB);
    }
}

}  // namespace
}  // namespace softtoken_test
