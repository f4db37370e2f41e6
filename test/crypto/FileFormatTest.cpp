// Certificates and PKCS#12 files: the fixtures in conf/ parse with the right password, and a
// wrong password or a damaged file gives its code.
#include "TestSupport.h"
#include "crypto/Certificate.h"
#include "crypto/GostR3410.h"
#include "crypto/Pkcs12.h"
#include "crypto/Rsa.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace crypto::test {
namespace {

const Bytes kPassword = {'3', '5', '7'};

struct CertCase {
    const char* file;
    const char* commonName;
    bool gost;
};

void PrintTo(const CertCase& c, std::ostream* out) { *out << c.file; }

class CertificateFixture : public ::testing::TestWithParam<CertCase> {};

TEST_P(CertificateFixture, ParsesTheSelfSignedCa) {
    CertificateFields fields = Certificate::Parse(ReadFile(ConfFile(GetParam().file)));
    EXPECT_EQ(fields.commonName, GetParam().commonName);
    EXPECT_EQ(fields.subject, fields.issuer);
    ASSERT_GE(fields.subject.size(), 2u);
    EXPECT_EQ(fields.subject[0], 0x30);
    // The script gives the CAs serial numbers 0x1001 and 0x1002, DER INTEGERs.
    EXPECT_EQ(fields.serialNumber, GetParam().gost ? Hex("02021002") : Hex("02021001"));
    if (GetParam().gost) {
        ASSERT_TRUE(fields.publicKey.gost.has_value());
        EXPECT_FALSE(fields.publicKey.rsa.has_value());
        EXPECT_EQ(fields.publicKey.gost->publicValue.size(), 64u);
        EXPECT_EQ(fields.publicKey.gost->paramsOid, GostR3410::DefaultParamsOid());
        EXPECT_TRUE(fields.publicKey.gost->privateValue.empty());
    } else {
        ASSERT_TRUE(fields.publicKey.rsa.has_value());
        EXPECT_EQ(fields.publicKey.rsa->modulus.size(), 256u);
        EXPECT_EQ(fields.publicKey.rsa->publicExponent, Hex("010001"));
        EXPECT_TRUE(fields.publicKey.rsa->privateExponent.empty());
    }
}

TEST_P(CertificateFixture, RefusesAnythingButExactlyOneDerCertificate) {
    Bytes der = ReadFile(ConfFile(GetParam().file));
    std::string pem = GetParam().gost ? "ca_gost.cer" : "ca.cer";
    Bytes trailing = der;
    trailing.push_back(0);
    Bytes twice = der;
    twice.insert(twice.end(), der.begin(), der.end());
    const std::pair<const char*, Bytes> cases[] = {
        {"empty", {}},
        {"pem", ReadFile(ConfFile(pem))},
        {"trailing byte", trailing},
        {"two certificates", twice},
        {"half", Bytes(der.begin(), der.begin() + static_cast<std::ptrdiff_t>(der.size() / 2))},
        {"last byte missing", Bytes(der.begin(), der.end() - 1)},
        {"pkcs12", ReadFile(ConfFile("clientTest2.p12"))},
    };
    for (const auto& [name, bytes] : cases)
        EXPECT_EQ(ErrorOf([&] { Certificate::Parse(bytes); }), CKR_ATTRIBUTE_VALUE_INVALID) << name;
}

INSTANTIATE_TEST_SUITE_P(Conf, CertificateFixture,
                         ::testing::Values(CertCase{"ca.crt", "tokentest RSA test CA", false},
                                           CertCase{"ca_gost.crt", "tokentest GOST test CA", true}),
                         [](const auto& info) { return std::string(info.param.gost ? "Gost" : "Rsa"); });

struct P12Case {
    const char* file;
    const char* friendlyName;
    const char* ca;
    bool gost;
};

void PrintTo(const P12Case& c, std::ostream* out) { *out << c.file; }

class Pkcs12Fixture : public ::testing::TestWithParam<P12Case> {
protected:
    Bytes File() const { return ReadFile(ConfFile(GetParam().file)); }
};

TEST_P(Pkcs12Fixture, RightPasswordGivesAMatchingKeyAndCertificate) {
    Pkcs12Contents contents = Pkcs12::Parse(File(), kPassword);
    EXPECT_EQ(contents.friendlyName, GetParam().friendlyName);
    CertificateFields cert = Certificate::Parse(contents.certificateDer);
    // Issued by the CA of the same folder.
    EXPECT_EQ(cert.issuer, Certificate::Parse(ReadFile(ConfFile(GetParam().ca))).subject);
    Bytes data(32, 0x11);
    if (GetParam().gost) {
        ASSERT_TRUE(contents.privateKey.gost && contents.publicKey.gost && cert.publicKey.gost);
        const GostKeyComponents& key = *contents.privateKey.gost;
        EXPECT_EQ(key.paramsOid, GostR3410::DefaultParamsOid());
        EXPECT_EQ(key.publicValue, cert.publicKey.gost->publicValue);
        EXPECT_EQ(contents.publicKey.gost->publicValue, key.publicValue);
        EXPECT_TRUE(contents.publicKey.gost->privateValue.empty());
        EXPECT_EQ(GostR3410::PublicFromPrivate(key.privateValue, key.paramsOid), key.publicValue);
        EXPECT_EQ(GostR3410::Verify(key.publicValue, key.paramsOid, data, GostR3410::Sign(key, data)), CKR_OK);
    } else {
        ASSERT_TRUE(contents.privateKey.rsa && contents.publicKey.rsa && cert.publicKey.rsa);
        EXPECT_EQ(contents.privateKey.rsa->modulus, cert.publicKey.rsa->modulus);
        EXPECT_FALSE(contents.privateKey.rsa->prime1.empty());
        EXPECT_TRUE(contents.publicKey.rsa->privateExponent.empty());
        Bytes signature = Rsa::SignPkcs1Raw(Rsa::LoadPrivate(*contents.privateKey.rsa), data);
        EXPECT_EQ(Rsa::VerifyPkcs1Raw(Rsa::LoadPublic(cert.publicKey.rsa->modulus, cert.publicKey.rsa->publicExponent),
                                      data, signature),
                  CKR_OK);
    }
}

TEST_P(Pkcs12Fixture, WrongPasswordsAreTheirOwnCode) {
    const Bytes wrong[] = {{'3', '5', '8'}, {}, {'3', '5'}, {'3', '5', '7', '0'}, {'3', '5', '7', 0}, Bytes(1000, 'x')};
    for (const Bytes& password : wrong)
        EXPECT_EQ(ErrorOf([&] { Pkcs12::Parse(File(), password); }), CKR_PIN_INCORRECT) << ToHex(password);
}

TEST_P(Pkcs12Fixture, DamagedFilesGiveACodeNotACrash) {
    Bytes file = File();
    Bytes trailing = file;
    trailing.push_back(0);
    const std::pair<const char*, Bytes> invalid[] = {
        {"empty", {}},
        {"one byte", {0x30}},
        {"half", Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() / 2))},
        {"last byte missing", Bytes(file.begin(), file.end() - 1)},
        {"trailing byte", trailing},
        {"certificate", ReadFile(ConfFile(GetParam().ca))},
        {"text", Bytes{'h', 'e', 'l', 'l', 'o'}},
    };
    for (const auto& [name, bytes] : invalid)
        EXPECT_EQ(ErrorOf([&] { Pkcs12::Parse(bytes, kPassword); }), CKR_DATA_INVALID) << name;
    // A changed byte inside the protected content fails the MAC: the file cannot tell that
    // apart from a wrong password. Either code is a refusal; nothing is returned.
    for (size_t at = 40; at < file.size(); at += 97) {
        Bytes changed = file;
        changed[at] ^= 0x5A;
        CK_RV rv = ErrorOf([&] { Pkcs12::Parse(changed, kPassword); });
        EXPECT_TRUE(rv == CKR_PIN_INCORRECT || rv == CKR_DATA_INVALID) << at << " gave " << rv;
    }
}

// The MAC is checked once, inside the parse; a MAC whose digest is unknown cannot tell a
// wrong password from a right one, so it makes the file corrupt, with the right password too.
TEST(Pkcs12Mac, AMacThatCannotBeComputedIsACorruptFile) {
    Bytes file = ReadFile(ConfFile("clientTest2.p12"));
    const Bytes sha256 = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
    auto mac = std::find_end(file.begin(), file.end(), sha256.begin(), sha256.end());
    ASSERT_NE(mac, file.end()) << "the MAC of the test file is not SHA-256";
    *(mac + static_cast<std::ptrdiff_t>(sha256.size()) - 1) = 0x7F;  // 2.16.840.1.101.3.4.2.127
    EXPECT_EQ(ErrorOf([&] { Pkcs12::Parse(file, kPassword); }), CKR_DATA_INVALID);
    EXPECT_EQ(ErrorOf([&] { Pkcs12::Parse(file, {'9'}); }), CKR_DATA_INVALID);
}

INSTANTIATE_TEST_SUITE_P(Conf, Pkcs12Fixture,
                         ::testing::Values(P12Case{"clientTest2.p12", "tokentest RSA client", "ca.crt", false},
                                           P12Case{"clientGostA.p12", "tokentest GOST client", "ca_gost.crt", true}),
                         [](const auto& info) { return std::string(info.param.gost ? "Gost" : "Rsa"); });

TEST(Pkcs12, GostFileUsesGostPasswordBasedEncryption) {
    std::string out;
    ASSERT_EQ(RunCommand("openssl pkcs12 -engine gost -info -noout -passin pass:357 -in " + ConfFile("clientGostA.p12"), &out),
              0)
        << out;
    EXPECT_NE(out.find("gost89"), std::string::npos) << out;
    EXPECT_NE(out.find("MAC: GOST R 34.11-94"), std::string::npos) << out;
}

TEST(Pkcs12, FileMadeWithoutFriendlyNameGivesAnEmptyName) {
    TempDir dir;
    Pkcs12Contents rsa = Pkcs12::Parse(ReadFile(ConfFile("clientTest2.p12")), kPassword);
    std::string pem = dir.Path("all.pem");
    ASSERT_EQ(RunCommand("openssl pkcs12 -nodes -passin pass:357 -in " + ConfFile("clientTest2.p12") + " -out " + pem), 0);
    ASSERT_EQ(RunCommand("openssl pkcs12 -export -passout pass:357 -in " + pem + " -out " + dir.Path("nameless.p12")), 0);
    Pkcs12Contents nameless = Pkcs12::Parse(ReadFile(dir.Path("nameless.p12")), kPassword);
    EXPECT_EQ(nameless.friendlyName, "");
    EXPECT_EQ(nameless.certificateDer, rsa.certificateDer);
}

}  // namespace
}  // namespace crypto::test
