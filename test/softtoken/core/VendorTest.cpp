// The five vendor entries with the test files in conf/: imports with right and wrong
// passwords, certificate requests checked by openssl req, CMS signatures checked by
// openssl cms, and bad input in every entry.
#include "SoftTokenFixture.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace softtoken_test {
namespace {

const Bytes kP12Password = {'3', '5', '7'};

Bytes ReadConf(const std::string& name) {
    std::ifstream in(std::string(SOFTTOKEN_CONF_DIR) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::string RunCommand(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
        char buffer[512];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
        if (pclose(pipe) != 0) output += "\n[command failed]";
    }
    return output;
}

Bytes Pack(std::initializer_list<const char*> strings) {
    Bytes packed;
    for (const char* text : strings) packed.insert(packed.end(), text, text + std::strlen(text) + 1);
    return packed;
}

class VendorTest : public SoftTokenTest {
protected:
    CK_RV LoadX509(CK_SESSION_HANDLE session, const char* label, Bytes der) {
        CK_BYTE id = 0x3B;
        return vendor->C_KTL_LoadX509Cert(session, label, &id, 1, der.data(), der.size());
    }
    CK_RV LoadP12(CK_SESSION_HANDLE session, Bytes file, Bytes password) {
        return vendor->C_KTL_LoadCert(session, file.data(), file.size(), password.data(), password.size());
    }
    // The utility's request: CN=name, C=RU, a challenge password and a critical key usage.
    CK_RV CreateCsr(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE publicKey, CK_OBJECT_HANDLE privateKey, Bytes& csr,
                    Bytes subject = Pack({"CN", "name", "C", "RU"}), CK_ULONG subjectCount = 2) {
        Bytes attributes = Pack({"challengePassword", "7591"});
        Bytes extensions = Pack({"keyUsage", "digitalSignature,keyEncipherment", "1"});
        CK_ULONG length = 0;
        CK_RV rv = vendor->C_KTL_CreateCSR(session, publicKey, subject.data(), subjectCount, nullptr, &length,
                                           privateKey, attributes.data(), 1, extensions.data(), 1);
        if (rv != CKR_OK) return rv;
        csr.assign(length, 0);
        rv = vendor->C_KTL_CreateCSR(session, publicKey, subject.data(), subjectCount, csr.data(), &length,
                                     privateKey, attributes.data(), 1, extensions.data(), 1);
        csr.resize(length);
        return rv;
    }
    CK_OBJECT_HANDLE FindCertificate(CK_SESSION_HANDLE session, const Bytes& id) {
        CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
        Bytes value = id;
        std::vector<CK_OBJECT_HANDLE> found =
            Find(session, {{CKA_CLASS, &certificateClass, sizeof certificateClass}, {CKA_ID, value.data(), value.size()}});
        EXPECT_EQ(1u, found.size());
        return found.empty() ? CK_INVALID_HANDLE : found.front();
    }
};

TEST_F(VendorTest, X509CertificateImportAsTheUtilityDoesIt) {
    CK_SESSION_HANDLE session = LoginUser();
    for (const char* file : {"ca.crt", "ca_gost.crt"}) {
        SCOPED_TRACE(file);
        const Bytes der = ReadConf(file);
        ASSERT_FALSE(der.empty());
        ASSERT_RV(CKR_OK, LoadX509(session, "Test x.509 DER certificate", der));
        CK_OBJECT_HANDLE certificate = FindCertificate(session, {0x3B});
        EXPECT_EQ(der, Attribute(session, certificate, CKA_VALUE));
        EXPECT_EQ("Test x.509 DER certificate", [&] {
            Bytes label = Attribute(session, certificate, CKA_LABEL);
            return std::string(label.begin(), label.end());
        }());
        EXPECT_EQ(CKC_X_509, UlongAttribute(session, certificate, CKA_CERTIFICATE_TYPE));
        EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, certificate, CKA_TOKEN));
        EXPECT_EQ(Bytes{CK_FALSE}, Attribute(session, certificate, CKA_PRIVATE));
        for (CK_ATTRIBUTE_TYPE type : {CKA_SUBJECT, CKA_ISSUER, CKA_SERIAL_NUMBER})
            EXPECT_FALSE(Attribute(session, certificate, type).empty()) << type;
        // A self-signed CA: subject and issuer are the same name.
        EXPECT_EQ(Attribute(session, certificate, CKA_SUBJECT), Attribute(session, certificate, CKA_ISSUER));
        ASSERT_RV(CKR_OK, f->C_DestroyObject(session, certificate));
    }
}

TEST_F(VendorTest, X509CertificateImportRefusesBadInput) {
    CK_SESSION_HANDLE session = LoginUser();
    const Bytes der = ReadConf("ca.crt");
    CK_BYTE id = 0x3B;
    Bytes copy = der;
    EXPECT_RV(CKR_ARGUMENTS_BAD, vendor->C_KTL_LoadX509Cert(session, nullptr, &id, 1, copy.data(), copy.size()));
    EXPECT_RV(CKR_ARGUMENTS_BAD, vendor->C_KTL_LoadX509Cert(session, "label", nullptr, 1, copy.data(), copy.size()));
    EXPECT_RV(CKR_ARGUMENTS_BAD, vendor->C_KTL_LoadX509Cert(session, "label", &id, 1, nullptr, 10));
    EXPECT_RV(CKR_SESSION_HANDLE_INVALID, vendor->C_KTL_LoadX509Cert(999, "label", &id, 1, copy.data(), copy.size()));
    EXPECT_RV(CKR_SESSION_READ_ONLY, LoadX509(Open(false), "label", der));

    // Labels up to 255 bytes; a longer one is refused without reading past its first 256 bytes.
    std::string longest(255, 'l');
    EXPECT_RV(CKR_OK, LoadX509(session, longest.c_str(), der));
    std::vector<char> unterminated(256, 'l');
    EXPECT_RV(CKR_ARGUMENTS_BAD, vendor->C_KTL_LoadX509Cert(session, unterminated.data(), &id, 1, copy.data(), copy.size()));

    const Bytes truncated(der.begin(), der.begin() + der.size() / 2);
    Bytes withTrailer = der;
    withTrailer.push_back(0);
    const Bytes pem = ReadConf("ca.cer");
    for (const Bytes& bad : {truncated, withTrailer, pem, Bytes{0x30, 0x00}, Bytes(100000, 0x30)}) {
        EXPECT_RV(CKR_ATTRIBUTE_VALUE_INVALID, LoadX509(session, "bad", bad)) << bad.size();
    }
    EXPECT_EQ(1u, FindAll(session).size());
}

struct P12Case {
    const char* file;
    CK_KEY_TYPE keyType;
};

class Pkcs12Test : public VendorTest, public ::testing::WithParamInterface<P12Case> {};

TEST_P(Pkcs12Test, ImportCreatesKeyPairAndCertificateUnderOneIdentifier) {
    CK_SESSION_HANDLE session = LoginUser();
    ASSERT_RV(CKR_OK, LoadP12(session, ReadConf(GetParam().file), kP12Password));
    const std::vector<CK_OBJECT_HANDLE> all = FindAll(session);
    ASSERT_EQ(3u, all.size());
    const Bytes id = Attribute(session, all[0], CKA_ID);
    EXPECT_EQ(20u, id.size());  // never one of the utility's one-byte identifiers
    std::vector<CK_OBJECT_CLASS> classes;
    for (CK_OBJECT_HANDLE object : all) {
        EXPECT_EQ(id, Attribute(session, object, CKA_ID));
        EXPECT_FALSE(Attribute(session, object, CKA_LABEL).empty());
        classes.push_back(UlongAttribute(session, object, CKA_CLASS));
    }
    EXPECT_EQ((std::vector<CK_OBJECT_CLASS>{CKO_PRIVATE_KEY, CKO_PUBLIC_KEY, CKO_CERTIFICATE}), classes);
    EXPECT_EQ(GetParam().keyType, UlongAttribute(session, all[0], CKA_KEY_TYPE));
    EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, all[0], CKA_PRIVATE));
    EXPECT_EQ(Bytes{CK_TRUE}, Attribute(session, all[0], CKA_SENSITIVE));

    // The imported key signs, and the certificate's public key verifies.
    CK_MECHANISM mechanism = {GetParam().keyType == CKK_RSA ? CKM_RSA_PKCS : CKM_GOSTR3410, nullptr, 0};
    Bytes data(32, 0x5A), signature;
    ASSERT_RV(CKR_OK, Sign(session, mechanism, all[0], data, signature));
    EXPECT_RV(CKR_OK, Verify(session, mechanism, all[1], data, signature));

    ASSERT_RV(CKR_OK, f->C_Logout(session));
    EXPECT_EQ(2u, FindAll(session).size());  // the private key is hidden
}

TEST_P(Pkcs12Test, WrongPasswordOrCorruptFileCreatesNothing) {
    CK_SESSION_HANDLE session = LoginUser();
    Bytes file = ReadConf(GetParam().file);
    EXPECT_RV(CKR_PIN_INCORRECT, LoadP12(session, file, {'9', '9', '9'}));
    EXPECT_RV(CKR_PIN_INCORRECT, LoadP12(session, file, {}));
    Bytes corrupt = file;
    corrupt[corrupt.size() / 2] ^= 0xFF;
    const CK_RV rv = LoadP12(session, corrupt, kP12Password);
    EXPECT_TRUE(rv == CKR_DATA_INVALID || rv == CKR_PIN_INCORRECT) << RvName(rv);
    EXPECT_RV(CKR_DATA_INVALID, LoadP12(session, Bytes(file.begin(), file.begin() + 100), kP12Password));
    EXPECT_RV(CKR_DATA_INVALID, LoadP12(session, Bytes(5000, 0x41), kP12Password));
    EXPECT_TRUE(FindAll(session).empty());

    EXPECT_RV(CKR_ARGUMENTS_BAD, vendor->C_KTL_LoadCert(session, nullptr, 10, nullptr, 0));
    ASSERT_RV(CKR_OK, f->C_Logout(session));
    EXPECT_RV(CKR_USER_NOT_LOGGED_IN, LoadP12(session, file, kP12Password));
}

INSTANTIATE_TEST_SUITE_P(Files, Pkcs12Test,
                         ::testing::Values(P12Case{"clientTest2.p12", CKK_RSA}, P12Case{"clientGostA.p12", CKK_GOSTR3410}));

TEST_F(VendorTest, RsaCertificateRequestPassesOpensslVerification) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    GenerateRsa(session, 1024, publicKey, privateKey);
    Bytes csr;
    ASSERT_RV(CKR_OK, CreateCsr(session, publicKey, privateKey, csr));
    WriteFile(Dir() + "/csr.der", csr);
    const std::string text = RunCommand("openssl req -inform DER -in " + Dir() + "/csr.der -verify -noout -text");
    EXPECT_NE(std::string::npos, text.find("verify OK")) << text;
    EXPECT_NE(std::string::npos, text.find("CN = name, C = RU")) << text;
    EXPECT_NE(std::string::npos, text.find("7591")) << text;
    EXPECT_NE(std::string::npos, text.find("X509v3 Key Usage: critical")) << text;
    EXPECT_NE(std::string::npos, text.find("Digital Signature, Key Encipherment")) << text;
    EXPECT_NE(std::string::npos, text.find("sha256WithRSAEncryption")) << text;

    // A short buffer gets the length back.
    Bytes subject = Pack({"CN", "name", "C", "RU"}), attributes = Pack({"challengePassword", "7591"}),
          extensions = Pack({"keyUsage", "digitalSignature", "1"});
    Bytes small(10);
    CK_ULONG length = small.size();
    EXPECT_RV(CKR_BUFFER_TOO_SMALL, vendor->C_KTL_CreateCSR(session, publicKey, subject.data(), 2, small.data(), &length,
                                                           privateKey, attributes.data(), 1, extensions.data(), 1));
    EXPECT_GT(length, 10u);
}

TEST_F(VendorTest, GostCertificateRequestPassesOpensslVerification) {
    CK_SESSION_HANDLE session = LoginUser();
    ASSERT_RV(CKR_OK, LoadP12(session, ReadConf("clientGostA.p12"), kP12Password));
    const std::vector<CK_OBJECT_HANDLE> all = FindAll(session);
    ASSERT_EQ(3u, all.size());
    Bytes csr;
    ASSERT_RV(CKR_OK, CreateCsr(session, all[1], all[0], csr));
    WriteFile(Dir() + "/csr.der", csr);
    const std::string text = RunCommand("openssl req -engine gost -inform DER -in " + Dir() + "/csr.der -verify -noout -text");
    EXPECT_NE(std::string::npos, text.find("verify OK")) << text;
    EXPECT_NE(std::string::npos, text.find("GOST R 34.11-94 with GOST R 34.10-2001")) << text;
}

TEST_F(VendorTest, CertificateRequestRefusals) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0, otherPublic = 0, otherPrivate = 0;
    GenerateRsa(session, 1024, publicKey, privateKey);
    GenerateRsa(session, 1024, otherPublic, otherPrivate);
    Bytes csr;
    EXPECT_RV(CKR_KEY_HANDLE_INVALID, CreateCsr(session, publicKey, otherPrivate, csr));
    EXPECT_RV(CKR_KEY_HANDLE_INVALID, CreateCsr(session, privateKey, publicKey, csr));
    EXPECT_RV(CKR_KEY_HANDLE_INVALID, CreateCsr(session, 4242, privateKey, csr));
    EXPECT_RV(CKR_ARGUMENTS_BAD, CreateCsr(session, publicKey, privateKey, csr, Pack({"NoSuchName", "x"}), 1));
    EXPECT_RV(CKR_ARGUMENTS_BAD, CreateCsr(session, publicKey, privateKey, csr, {}, 2));
    // A subject string longer than the entry accepts is refused, not read to its end.
    Bytes endless(2000, 'A');
    endless.push_back(0);
    EXPECT_RV(CKR_ARGUMENTS_BAD, CreateCsr(session, publicKey, privateKey, csr, endless, 1));
    CK_ULONG length = 0;
    Bytes subject = Pack({"CN", "name"});
    EXPECT_RV(CKR_ARGUMENTS_BAD, vendor->C_KTL_CreateCSR(session, publicKey, subject.data(), 1, nullptr, nullptr,
                                                        privateKey, nullptr, 0, nullptr, 0));
    EXPECT_RV(CKR_OK, vendor->C_KTL_CreateCSR(session, publicKey, subject.data(), 1, nullptr, &length, privateKey,
                                             nullptr, 0, nullptr, 0));
}

TEST_F(VendorTest, CmsSignatureWithTheImportedCertificate) {
    CK_SESSION_HANDLE session = LoginUser();
    ASSERT_RV(CKR_OK, LoadP12(session, ReadConf("clientTest2.p12"), kP12Password));
    const std::vector<CK_OBJECT_HANDLE> all = FindAll(session);
    ASSERT_EQ(3u, all.size());
    const CK_OBJECT_HANDLE certificate = all[2];
    Bytes data(32, 0x42);
    CK_ULONG length = 0;
    ASSERT_RV(CKR_OK, vendor->C_KTL_SignWithCert(session, data.data(), 32, certificate, nullptr, &length, 0, 0, 0, 0));
    Bytes signature(length);
    ASSERT_RV(CKR_OK, vendor->C_KTL_SignWithCert(session, data.data(), 32, certificate, signature.data(), &length, 0, 0,
                                                0, 0));
    EXPECT_EQ(signature.size(), length);
    EXPECT_RV(CKR_OK, vendor->C_KTL_VerifySignature(signature.data(), length, data.data(), 32));

    WriteFile(Dir() + "/data", data);
    WriteFile(Dir() + "/sig.der", signature);
    const std::string text = RunCommand("openssl cms -verify -noverify -binary -inform DER -in " + Dir() + "/sig.der -content " +
                                 Dir() + "/data -out /dev/null");
    EXPECT_NE(std::string::npos, text.find("Verification successful")) << text;

    Bytes otherData = data;
    otherData[0] ^= 1;
    EXPECT_RV(CKR_SIGNATURE_INVALID, vendor->C_KTL_VerifySignature(signature.data(), length, otherData.data(), 32));
    Bytes garbage(300, 0x17);
    const CK_RV rv = vendor->C_KTL_VerifySignature(garbage.data(), garbage.size(), data.data(), 32);
    EXPECT_TRUE(rv == CKR_SIGNATURE_LEN_RANGE || rv == CKR_ARGUMENTS_BAD) << RvName(rv);
    EXPECT_RV(CKR_ARGUMENTS_BAD, vendor->C_KTL_VerifySignature(nullptr, 10, data.data(), 32));
    EXPECT_RV(CKR_ARGUMENTS_BAD, vendor->C_KTL_SignWithCert(session, data.data(), 32, certificate, nullptr, nullptr, 0, 0, 0, 0));
}

TEST_F(VendorTest, CmsSignatureNeedsAKeyForTheCertificate) {
    CK_SESSION_HANDLE session = LoginUser();
    ASSERT_RV(CKR_OK, LoadX509(session, "CA", ReadConf("ca.crt")));
    const CK_OBJECT_HANDLE certificate = FindCertificate(session, {0x3B});
    Bytes data(32, 1);
    CK_ULONG length = 0;
    EXPECT_RV(CKR_KEY_HANDLE_INVALID,
              vendor->C_KTL_SignWithCert(session, data.data(), 32, certificate, nullptr, &length, 0, 0, 0, 0));
    EXPECT_RV(CKR_OBJECT_HANDLE_INVALID,
              vendor->C_KTL_SignWithCert(session, data.data(), 32, 777, nullptr, &length, 0, 0, 0, 0));
}

}  // namespace
}  // namespace softtoken_test
