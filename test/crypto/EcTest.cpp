// The EC layer's parsers and conversions: CKA_EC_PARAMS, the point forms, PKCS#8 both ways
// against keys OpenSSL made, and the X9.63 KDF against its definition.
#include "TestSupport.h"

#include "crypto/EcKeys.h"
#include "crypto/EcParams.h"
#include "crypto/EcPoint.h"
#include "crypto/Ecdh.h"

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace crypto::test {
namespace {

Bytes Join(const Bytes& a, const Bytes& b) {
    Bytes out(a.size() + b.size());
    std::copy(a.begin(), a.end(), out.begin());
    std::copy(b.begin(), b.end(), out.begin() + static_cast<std::ptrdiff_t>(a.size()));
    return out;
}

TEST(EcParamsTest, NamesCurvesByOidOrPrintableString) {
    const struct {
        const char* title;
        const char* der;
        const char* group;  // null: refused with rv
        CK_RV rv;
    } rows[] = {
        {"P-256 OID", "06082A8648CE3D030107", "prime256v1", CKR_OK},
        {"P-384 OID", "06052B81040022", "secp384r1", CKR_OK},
        {"P-521 OID", "06052B81040023", "secp521r1", CKR_OK},
        {"Ed25519 OID", "06032B6570", "ED25519", CKR_OK},
        {"prime256v1", "130A7072696D653235367631", "prime256v1", CKR_OK},
        {"prime256v1 and a byte more", "130A7072696D6532353676310A", nullptr, CKR_ATTRIBUTE_VALUE_INVALID},
        {"secp256r1", "1309736563703235367231", "prime256v1", CKR_OK},
        {"P-521 name", "1305502D353231", "secp521r1", CKR_OK},
        {"edwards25519", "130C6564776172647332353531" "39", "ED25519", CKR_OK},
        {"P-192 OID", "06082A8648CE3D030101", nullptr, CKR_CURVE_NOT_SUPPORTED},
        {"secp256k1 OID", "06052B8104000A", nullptr, CKR_CURVE_NOT_SUPPORTED},
        {"unknown name", "1304502D3939", nullptr, CKR_CURVE_NOT_SUPPORTED},
        {"explicit parameters", "30030201FF", nullptr, CKR_CURVE_NOT_SUPPORTED},
        {"implicitly CA", "0500", nullptr, CKR_CURVE_NOT_SUPPORTED},
        {"empty", "", nullptr, CKR_ATTRIBUTE_VALUE_INVALID},
        {"OID cut short", "06082A8648CE3D0301", nullptr, CKR_ATTRIBUTE_VALUE_INVALID},
        {"OID and a byte more", "06052B8104002200", nullptr, CKR_ATTRIBUTE_VALUE_INVALID},
        {"name longer than its bytes", "1309736563703235", nullptr, CKR_ATTRIBUTE_VALUE_INVALID},
        {"long-form name length", "13810161", nullptr, CKR_ATTRIBUTE_VALUE_INVALID},
        {"other tag", "0403010203", nullptr, CKR_ATTRIBUTE_VALUE_INVALID},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title);
        const Bytes der = Hex(row.der);
        if (row.group == nullptr) {
            EXPECT_EQ(row.rv, ErrorOf([&] { EcParams::Parse(der); }));
            continue;
        }
        const EcCurve& curve = EcParams::Parse(der);
        EXPECT_STREQ(row.group, curve.groupName);
        EXPECT_EQ(&curve, &EcParams::Parse(EcParams::OidDer(curve)));
    }
}

TEST(EcPointTest, DecodesTheDerAndTheRawFormOnly) {
    const EcCurve& p256 = EcParams::Parse(Hex("06082A8648CE3D030107"));
    const EcCurve& p521 = EcParams::Parse(Hex("06052B81040023"));
    const EcCurve& ed25519 = EcParams::Parse(Hex("06032B6570"));
    const Bytes raw256 = Join({0x04}, Bytes(64, 0x11));
    const Bytes raw521 = Join({0x04}, Bytes(132, 0x22));
    const struct {
        const char* title;
        const EcCurve& curve;
        Bytes value;
        Bytes raw;  // empty: CKR_ATTRIBUTE_VALUE_INVALID
    } rows[] = {
        {"P-256 raw", p256, raw256, raw256},
        {"P-256 DER", p256, Join({0x04, 0x41}, raw256), raw256},
        {"P-521 DER, long length", p521, Join({0x04, 0x81, 0x85}, raw521), raw521},
        {"P-521 raw", p521, raw521, raw521},
        {"Ed25519 raw", ed25519, Bytes(32, 0x33), Bytes(32, 0x33)},
        {"Ed25519 DER", ed25519, Join({0x04, 0x20}, Bytes(32, 0x33)), Bytes(32, 0x33)},
        {"P-521 DER, short length form of 133", p521, Join({0x04, 0x85}, raw521), {}},
        {"P-256 DER, long length form of 65", p256, Join({0x04, 0x81, 0x41}, raw256), {}},
        {"P-256 compressed", p256, Join({0x02}, Bytes(32, 0x11)), {}},
        {"P-256 compressed in DER", p256, Join({0x04, 0x21, 0x02}, Bytes(32, 0x11)), {}},
        {"P-256 raw without its 04", p256, Join({0x06}, Bytes(64, 0x11)), {}},
        {"P-256 DER, trailing byte", p256, Join(Join({0x04, 0x41}, raw256), {0x00}), {}},
        {"P-256 DER, other tag", p256, Join({0x03, 0x41}, raw256), {}},
        {"P-384 point on P-256", p256, Join({0x04, 0x61, 0x04}, Bytes(96, 0x11)), {}},
        {"empty", p256, {}, {}},
        {"one byte", p256, {0x04}, {}},
        {"Ed25519 31 bytes", ed25519, Bytes(31, 0x33), {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title);
        if (row.raw.empty()) {
            EXPECT_EQ(CKR_ATTRIBUTE_VALUE_INVALID, ErrorOf([&] { EcPoint::Decode(row.curve, row.value); }));
        } else {
            EXPECT_EQ(row.raw, EcPoint::Decode(row.curve, row.value));
            EXPECT_EQ(row.raw, EcPoint::Decode(row.curve, EcPoint::Encode(row.raw)));
        }
    }
}

using Pkey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

Bytes Pkcs8Of(EVP_PKEY* key) {
    PKCS8_PRIV_KEY_INFO* info = EVP_PKEY2PKCS8(key);
    unsigned char* der = nullptr;
    const int length = i2d_PKCS8_PRIV_KEY_INFO(info, &der);
    Bytes out(der, der + length);
    OPENSSL_free(der);
    PKCS8_PRIV_KEY_INFO_free(info);
    return out;
}

Pkey FromPkcs8Der(const Bytes& der) {
    const unsigned char* p = der.data();
    return Pkey(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(der.size())), EVP_PKEY_free);
}

TEST(EcKeysTest, Pkcs8BothWaysWithOpenssl) {
    const struct {
        const char* title;
        const char* oid;
        Pkey key;
    } rows[] = {
        {"P-256", "06082A8648CE3D030107", Pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "prime256v1"), EVP_PKEY_free)},
        {"P-384", "06052B81040022", Pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "secp384r1"), EVP_PKEY_free)},
        {"P-521", "06052B81040023", Pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "secp521r1"), EVP_PKEY_free)},
        {"Ed25519", "06032B6570", Pkey(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"), EVP_PKEY_free)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title);
        // OpenSSL's PKCS#8 in, values out: the point they give is OpenSSL's public key.
        const EcKeyComponents ec = EcKeys::FromPkcs8(Pkcs8Of(row.key.get()));
        EXPECT_EQ(Hex(row.oid), ec.params);
        const EcCurve& curve = EcParams::Parse(ec.params);
        EXPECT_EQ(curve.fieldBytes, ec.privateValue.size());
        unsigned char* spki = nullptr;
        const int spkiLength = i2d_PUBKEY(row.key.get(), &spki);
        const Bytes openSslSpki(spki, spki + spkiLength);
        OPENSSL_free(spki);
        ASSERT_GE(openSslSpki.size(), ec.point.size());
        EXPECT_EQ(ec.point, Bytes(openSslSpki.end() - static_cast<std::ptrdiff_t>(ec.point.size()), openSslSpki.end()));
        // And back: OpenSSL reads the same key from the layer's PKCS#8.
        Pkey again = FromPkcs8Der(EcKeys::ToPkcs8(curve, ec.privateValue));
        ASSERT_TRUE(again);
        EXPECT_EQ(1, EVP_PKEY_eq(again.get(), row.key.get()));
    }
    EXPECT_EQ(CKR_WRAPPED_KEY_INVALID, ErrorOf([] { EcKeys::FromPkcs8(Hex("3003020100")); }));
    EXPECT_EQ(CKR_WRAPPED_KEY_INVALID, ErrorOf([] { EcKeys::FromPkcs8({}); }));
    Pkey p192(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "prime192v1"), EVP_PKEY_free);
    EXPECT_EQ(CKR_WRAPPED_KEY_INVALID, ErrorOf([&] { EcKeys::FromPkcs8(Pkcs8Of(p192.get())); }));
    Pkey rsa(EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{1024}), EVP_PKEY_free);
    EXPECT_EQ(CKR_WRAPPED_KEY_INVALID, ErrorOf([&] { EcKeys::FromPkcs8(Pkcs8Of(rsa.get())); }));
}

TEST(EcdhTest, X963KdfFollowsItsDefinition) {
    const Bytes secret(32, 0x42), info = {'i', 'n', 'f', 'o'};
    auto block = [&](unsigned char counter) {
        Bytes input = Join(Join(secret, {0, 0, 0, counter}), info);
        Bytes out(32);
        unsigned int length = 0;
        EVP_Digest(input.data(), input.size(), out.data(), &length, EVP_sha256(), nullptr);
        return out;
    };
    const Bytes expected = Join(block(1), block(2));
    EXPECT_EQ(Bytes(expected.begin(), expected.begin() + 40), Ecdh::X963Kdf("SHA256", secret, info, 40));
    EXPECT_EQ(Bytes(expected.begin(), expected.begin() + 16), Ecdh::X963Kdf("SHA256", secret, info, 16));
}

}  // namespace
}  // namespace crypto::test
