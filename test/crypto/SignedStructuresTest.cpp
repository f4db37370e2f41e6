// Certificate requests and CMS signatures, each checked by the openssl command.
#include "TestSupport.h"
#include "crypto/CertificateRequest.h"
#include "crypto/CmsSignature.h"
#include "crypto/GostR3410.h"
#include "crypto/Pkcs12.h"
#include "crypto/Rsa.h"

#include <gtest/gtest.h>

#include <functional>

namespace crypto::test {
namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;
using Triples = std::vector<std::array<std::string, 3>>;

const Pairs kSubject = {{"CN", "name"}, {"C", "RU"}};
const Pairs kAttributes = {{"challengePassword", "7591"}};
const Triples kExtensions = {{"keyUsage", "digitalSignature,keyEncipherment", "1"}};

KeyMaterial PublicOf(const KeyMaterial& key) {
    KeyMaterial out = key;
    if (out.rsa) out.rsa = RsaKeyComponents{key.rsa->modulus, key.rsa->publicExponent, {}, {}, {}, {}, {}, {}};
    if (out.gost) out.gost->privateValue.clear();
    return out;
}

struct Algorithm {
    const char* name;
    std::function<KeyMaterial()> generate;
    const char* engine;          // openssl option that loads what the algorithm needs
    const char* signatureName;   // how openssl prints the signature algorithm
    const char* p12;             // the conf/ file with a key and certificate
};

void PrintTo(const Algorithm& a, std::ostream* out) { *out << a.name; }

const Algorithm kAlgorithms[] = {
    {"Rsa", [] { return KeyMaterial{Rsa::Generate(1024, {}), std::nullopt}; }, "", "sha256WithRSAEncryption",
     "clientTest2.p12"},
    {"Gost", [] { return KeyMaterial{std::nullopt, GostR3410::Generate({})}; }, "-engine gost",
     "GOST R 34.11-94 with GOST R 34.10-2001", "clientGostA.p12"},
};

class ByAlgorithm : public ::testing::TestWithParam<Algorithm> {
protected:
    std::string Openssl(const std::string& command) const {
        return "openssl " + command + " " + GetParam().engine;
    }
};

TEST_P(ByAlgorithm, RequestVerifiesAndCarriesTheUtilityContent) {
    TempDir dir;
    KeyMaterial key = GetParam().generate();
    Bytes der = CertificateRequest::Build(PublicOf(key), key, kSubject, kAttributes, kExtensions);
    WriteFile(dir.Path("csr.der"), der);
    std::string out;
    ASSERT_EQ(RunCommand(Openssl("req -verify -noout -inform DER -in " + dir.Path("csr.der")), &out), 0) << out;
    EXPECT_NE(out.find("verify OK"), std::string::npos) << out;
    ASSERT_EQ(RunCommand(Openssl("req -text -noout -inform DER -in " + dir.Path("csr.der")), &out), 0) << out;
    for (const char* expected : {"Subject: CN = name, C = RU", "challengePassword", "7591",
                                 "X509v3 Key Usage: critical", "Digital Signature, Key Encipherment",
                                 "Version: 1 (0x0)", GetParam().signatureName})
        EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
}

TEST_P(ByAlgorithm, RequestWithNonCriticalExtensionAndNoAttributes) {
    TempDir dir;
    KeyMaterial key = GetParam().generate();
    Bytes der = CertificateRequest::Build(PublicOf(key), key, {{"CN", "x"}, {"O", "Org"}}, {},
                                          {{"keyUsage", "digitalSignature", "0"}, {"basicConstraints", "CA:FALSE", ""}});
    WriteFile(dir.Path("csr.der"), der);
    std::string out;
    ASSERT_EQ(RunCommand(Openssl("req -verify -text -noout -inform DER -in " + dir.Path("csr.der")), &out), 0) << out;
    EXPECT_NE(out.find("X509v3 Key Usage: \n"), std::string::npos) << out;
    EXPECT_EQ(out.find("critical"), std::string::npos) << out;
    EXPECT_EQ(out.find("challengePassword"), std::string::npos) << out;
}

TEST_P(ByAlgorithm, RequestRefusesUnknownNamesAndForeignKeys) {
    KeyMaterial key = GetParam().generate();
    KeyMaterial pub = PublicOf(key);
    KeyMaterial other = GetParam().generate();
    KeyMaterial rsa{Rsa::Generate(1024, {}), std::nullopt};
    struct Case {
        const char* name;
        std::function<void()> call;
        CK_RV rv;
    };
    const Case cases[] = {
        {"subject type", [&] { CertificateRequest::Build(pub, key, {{"XX", "v"}}, kAttributes, kExtensions); },
         CKR_ARGUMENTS_BAD},
        {"country too long", [&] { CertificateRequest::Build(pub, key, {{"C", "Russia"}}, {}, {}); }, CKR_ARGUMENTS_BAD},
        {"attribute", [&] { CertificateRequest::Build(pub, key, kSubject, {{"nosuchAttribute", "1"}}, {}); },
         CKR_ARGUMENTS_BAD},
        {"extension", [&] { CertificateRequest::Build(pub, key, kSubject, {}, {{{"noSuchExtension", "x", "1"}}}); },
         CKR_ARGUMENTS_BAD},
        {"extension value", [&] { CertificateRequest::Build(pub, key, kSubject, {}, {{{"keyUsage", "bogus", "1"}}}); },
         CKR_ARGUMENTS_BAD},
        {"criticality", [&] { CertificateRequest::Build(pub, key, kSubject, {}, {{{"keyUsage", "digitalSignature", "2"}}}); },
         CKR_ARGUMENTS_BAD},
        {"other pair", [&] { CertificateRequest::Build(PublicOf(other), key, kSubject, {}, {}); }, CKR_KEY_HANDLE_INVALID},
        {"mixed algorithms", [&] { CertificateRequest::Build(PublicOf(rsa), key, kSubject, {}, {}); },
         CKR_KEY_HANDLE_INVALID},
        {"no public key", [&] { CertificateRequest::Build({}, key, kSubject, {}, {}); }, CKR_KEY_HANDLE_INVALID},
        {"public as private", [&] { CertificateRequest::Build(pub, pub, kSubject, {}, {}); }, CKR_KEY_HANDLE_INVALID},
    };
    for (const Case& c : cases) EXPECT_EQ(ErrorOf(c.call), c.rv) << c.name;
}

TEST_P(ByAlgorithm, CmsSignatureVerifiesHereAndWithOpenssl) {
    TempDir dir;
    Pkcs12Contents contents = Pkcs12::Parse(ReadFile(ConfFile(GetParam().p12)), {'3', '5', '7'});
    Bytes data(32);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 37);
    Bytes signature = CmsSignature::SignDetached(contents.privateKey, contents.certificateDer, data);
    EXPECT_EQ(CmsSignature::Verify(signature, data), CKR_OK);

    WriteFile(dir.Path("sig.der"), signature);
    WriteFile(dir.Path("data"), data);
    std::string out;
    EXPECT_EQ(RunCommand(Openssl("cms -verify -noverify -binary -inform DER -in " + dir.Path("sig.der") + " -content " +
                                 dir.Path("data") + " -out /dev/null"),
                         &out),
              0)
        << out;

    Bytes otherData = data;
    otherData[3] ^= 1;
    EXPECT_EQ(CmsSignature::Verify(signature, otherData), CKR_SIGNATURE_INVALID);
    EXPECT_EQ(CmsSignature::Verify(signature, {}), CKR_SIGNATURE_INVALID);
    // The signature value is the last thing in the blob: change its final byte.
    Bytes changed = signature;
    changed.back() ^= 1;
    EXPECT_EQ(CmsSignature::Verify(changed, data), CKR_SIGNATURE_INVALID);
}

TEST_P(ByAlgorithm, CmsVerifiesASignatureMadeByOpenssl) {
    TempDir dir;
    std::string p12 = ConfFile(GetParam().p12);
    std::string out;
    ASSERT_EQ(RunCommand(Openssl("pkcs12 -nodes -passin pass:357 -in " + p12 + " -out " + dir.Path("all.pem")), &out), 0)
        << out;
    Bytes data = {'h', 'e', 'l', 'l', 'o'};
    WriteFile(dir.Path("data"), data);
    ASSERT_EQ(RunCommand(Openssl("cms -sign -binary -outform DER -signer " + dir.Path("all.pem") + " -in " +
                                 dir.Path("data") + " -out " + dir.Path("sig.der")),
                         &out),
              0)
        << out;
    EXPECT_EQ(CmsSignature::Verify(ReadFile(dir.Path("sig.der")), data), CKR_OK);
    ASSERT_EQ(RunCommand(Openssl("cms -sign -nodetach -binary -outform DER -signer " + dir.Path("all.pem") + " -in " +
                                 dir.Path("data") + " -out " + dir.Path("attached.der")),
                         &out),
              0)
        << out;
    EXPECT_EQ(CmsSignature::Verify(ReadFile(dir.Path("attached.der")), data), CKR_ARGUMENTS_BAD);
}

TEST_P(ByAlgorithm, CmsSigningRefusesAKeyOfAnotherCertificate) {
    Pkcs12Contents contents = Pkcs12::Parse(ReadFile(ConfFile(GetParam().p12)), {'3', '5', '7'});
    KeyMaterial other = GetParam().generate();
    EXPECT_EQ(ErrorOf([&] { CmsSignature::SignDetached(other, contents.certificateDer, {1, 2}); }),
              CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(ErrorOf([&] { CmsSignature::SignDetached({}, contents.certificateDer, {1, 2}); }), CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(ErrorOf([&] { CmsSignature::SignDetached(contents.privateKey, {0x30, 0x00}, {1, 2}); }),
              CKR_ATTRIBUTE_VALUE_INVALID);
}

INSTANTIATE_TEST_SUITE_P(Algorithms, ByAlgorithm, ::testing::ValuesIn(kAlgorithms),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CmsSignature, BlobsThatAreNotSignaturesGiveTheirCodes) {
    Pkcs12Contents contents = Pkcs12::Parse(ReadFile(ConfFile("clientTest2.p12")), {'3', '5', '7'});
    Bytes data = {1, 2, 3};
    Bytes signature = CmsSignature::SignDetached(contents.privateKey, contents.certificateDer, data);
    Bytes trailing = signature;
    trailing.push_back(0);
    const std::pair<const char*, Bytes> notCms[] = {
        {"empty", {}},
        {"one byte", {0x30}},
        {"truncated", Bytes(signature.begin(), signature.end() - 1)},
        {"half", Bytes(signature.begin(), signature.begin() + static_cast<std::ptrdiff_t>(signature.size() / 2))},
        {"trailing byte", trailing},
        {"certificate", contents.certificateDer},
        {"text", Bytes{'n', 'o', 't', ' ', 'c', 'm', 's'}},
    };
    for (const auto& [name, blob] : notCms) EXPECT_EQ(CmsSignature::Verify(blob, data), CKR_SIGNATURE_LEN_RANGE) << name;
    // A well-formed CMS of another content type is not a signature.
    TempDir dir;
    WriteFile(dir.Path("data"), data);
    ASSERT_EQ(RunCommand("openssl cms -data_create -binary -outform DER -in " + dir.Path("data") + " -out " +
                         dir.Path("plain.der")),
              0);
    EXPECT_EQ(CmsSignature::Verify(ReadFile(dir.Path("plain.der")), data), CKR_ARGUMENTS_BAD);
}

}  // namespace
}  // namespace crypto::test
