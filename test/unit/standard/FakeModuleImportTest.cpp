// Certificate and PKCS#12 import with standard calls, as the fake module records them.
#include "FakeModuleFixture.h"
#include "StandardTestSupport.h"
#include "standard/StandardCalls.h"

#include <openssl/sha.h>
#include <openssl/x509.h>

#include <functional>
#include <memory>

namespace standard_test {
namespace {

using fake::Attribute;

// Subject, issuer and serial number of a DER certificate, read with OpenSSL here.
struct Names {
    Bytes subject, issuer, serial;
};

template <typename T>
Bytes Der(T* object, int (*encode)(T*, unsigned char**))
{
    unsigned char* out = nullptr;
    const int length = encode(object, &out);
    Bytes bytes(out, out + (length > 0 ? length : 0));
    OPENSSL_free(out);
    return bytes;
}

Names NamesOf(const Bytes& der)
{
    const unsigned char* p = der.data();
    std::unique_ptr<X509, decltype(&X509_free)> certificate(d2i_X509(nullptr, &p, static_cast<long>(der.size())),
                                                               X509_free);
    if (!certificate) return {};
    return {Der<const X509_NAME>(X509_get_subject_name(certificate.get()), i2d_X509_NAME),
            Der<const X509_NAME>(X509_get_issuer_name(certificate.get()), i2d_X509_NAME),
            Der<const ASN1_INTEGER>(X509_get0_serialNumber(certificate.get()), i2d_ASN1_INTEGER)};
}

std::vector<Attribute> CertificateTemplate(const std::string& label, const Bytes& id, const Bytes& der)
{
    const Names names = NamesOf(der);
    return {fake::Ulong(CKA_CLASS, CKO_CERTIFICATE), fake::Ulong(CKA_CERTIFICATE_TYPE, CKC_X_509),
            fake::Bool(CKA_TOKEN, true),            fake::Bool(CKA_PRIVATE, false),
            fake::Text(CKA_LABEL, label),           fake::Raw(CKA_ID, id),
            fake::Raw(CKA_VALUE, der),              fake::Raw(CKA_SUBJECT, names.subject),
            fake::Raw(CKA_ISSUER, names.issuer),    fake::Raw(CKA_SERIAL_NUMBER, names.serial)};
}

Bytes Sha1(const Bytes& data)
{
    Bytes hash(SHA_DIGEST_LENGTH);
    SHA1(data.data(), data.size(), hash.data());
    return hash;
}

using ImportTest = FakeModuleTest;

TEST_F(ImportTest, CertificateTemplateIsSentByteForByte)
{
    Bytes der = ReadFile(ConfFile("ca.crt"));
    Bytes id = {0x3B};
    EXPECT_EQ(CStandardCalls::LoadX509Cert(&m_list, m_session, "tokentest CA", id.data(), id.size(), der.data(),
                                           der.size()),
              CKR_OK);
    ASSERT_EQ(Names(), std::vector<std::string>{"C_CreateObject"});
    const fake::Call call = fake::Calls()[0];
    EXPECT_EQ(call.args[0], m_session);
    EXPECT_EQ(Describe(call.templates[0]), Describe(CertificateTemplate("tokentest CA", id, der)));
    EXPECT_EQ(fake::Objects().size(), 1u);
}

TEST_F(ImportTest, CertificateInputsThatAreRefusedBeforeAnyCall)
{
    const Bytes der = ReadFile(ConfFile("ca.crt"));
    Bytes trailing = der;
    trailing.push_back(0);
    Bytes truncated(der.begin(), der.end() - 1);
    Bytes garbage = {'n', 'o', 't', ' ', 'D', 'E', 'R'};
    Bytes empty;
    const std::string longLabel(256, 'x');
    struct Case {
        const char* name;
        const char* label;
        Bytes* der;
        CK_RV rv;
    };
    const Case cases[] = {
        {"trailing byte", "l", &trailing, CKR_ATTRIBUTE_VALUE_INVALID},
        {"truncated", "l", &truncated, CKR_ATTRIBUTE_VALUE_INVALID},
        {"not DER", "l", &garbage, CKR_ATTRIBUTE_VALUE_INVALID},
        {"empty", "l", &empty, CKR_ATTRIBUTE_VALUE_INVALID},
        {"null DER", "l", nullptr, CKR_ARGUMENTS_BAD},
        {"null label", nullptr, &trailing, CKR_ARGUMENTS_BAD},
        {"label of 256 bytes", longLabel.c_str(), &trailing, CKR_ARGUMENTS_BAD},
    };
    for (const Case& c : cases) {
        unsigned char placeholder = 0;  // a pointer for the empty value
        unsigned char* input = c.der == nullptr ? nullptr : c.der->empty() ? &placeholder : c.der->data();
        EXPECT_EQ(CStandardCalls::LoadX509Cert(&m_list, m_session, c.label, nullptr, 0, input,
                                               c.der == nullptr ? 1 : c.der->size()),
                  c.rv)
            << c.name;
    }
    EXPECT_TRUE(Names().empty());
}

TEST_F(ImportTest, RefusedCertificateObjectGivesTheModuleCode)
{
    fake::Fail("C_CreateObject", CKR_DEVICE_MEMORY);
    Bytes der = ReadFile(ConfFile("ca.crt"));
    EXPECT_EQ(CStandardCalls::LoadX509Cert(&m_list, m_session, "x", nullptr, 0, der.data(), der.size()),
              CKR_DEVICE_MEMORY);
}

TEST_F(ImportTest, NoFunctionListAndEntriesWithoutStandardCalls)
{
    Bytes der = ReadFile(ConfFile("ca.crt"));
    CK_ULONG length = 0;
    Bytes data(4);
    EXPECT_EQ(CStandardCalls::LoadX509Cert(nullptr, m_session, "x", nullptr, 0, der.data(), der.size()),
              CKR_ARGUMENTS_BAD);
    EXPECT_EQ(CStandardCalls::LoadCert(nullptr, m_session, der.data(), der.size(), nullptr, 0), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(CStandardCalls::CreateCSR(nullptr, m_session, 1, nullptr, 0, nullptr, &length, 2, nullptr, 0, nullptr, 0),
              CKR_ARGUMENTS_BAD);
    EXPECT_EQ(CStandardCalls::SignWithCert(&m_list, m_session, data.data(), data.size(), 1, nullptr, &length, 0, 0, 0,
                                           0),
              CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(CStandardCalls::VerifySignature(&m_list, data.data(), data.size(), data.data(), data.size()),
              CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_TRUE(Names().empty());
}

class Pkcs12ImportTest : public FakeModuleTest, public ::testing::WithParamInterface<KeyFile> {
protected:
    CK_RV Load(Bytes file, Bytes password = kP12Password)
    {
        return CStandardCalls::LoadCert(&m_list, m_session, file.data(), file.size(), password.data(),
                                        password.size());
    }
    Bytes File() const { return ReadFile(ConfFile(GetParam().p12)); }
};

// Private key, public key and certificate under one identifier and label, as the software
// token's own import makes them.
TEST_P(Pkcs12ImportTest, TemplatesAreSentByteForByte)
{
    const auto contents = ReadKeyFile(GetParam());
    ASSERT_EQ(Load(File()), CKR_OK);
    const std::vector<fake::Call> creates = CallsNamed("C_CreateObject");
    ASSERT_EQ(Names(), std::vector<std::string>(3, "C_CreateObject"));

    const std::string label = GetParam().gost ? "tokentest GOST client" : "tokentest RSA client";
    const Bytes id = Sha1(GetParam().gost ? contents.publicKey.gost->publicValue : contents.publicKey.rsa->modulus);
    const Bytes subject = NamesOf(contents.certificateDer).subject;
    const CK_KEY_TYPE keyType = GetParam().gost ? CKK_GOSTR3410 : CKK_RSA;
    std::vector<Attribute> privateKey = {fake::Ulong(CKA_CLASS, CKO_PRIVATE_KEY), fake::Ulong(CKA_KEY_TYPE, keyType),
                                         fake::Bool(CKA_TOKEN, true),  fake::Bool(CKA_PRIVATE, true),
                                         fake::Text(CKA_LABEL, label), fake::Raw(CKA_ID, id),
                                         fake::Raw(CKA_SUBJECT, subject), fake::Bool(CKA_SENSITIVE, true),
                                         fake::Bool(CKA_SIGN, true)};
    std::vector<Attribute> publicKey = {fake::Ulong(CKA_CLASS, CKO_PUBLIC_KEY), fake::Ulong(CKA_KEY_TYPE, keyType),
                                        fake::Bool(CKA_TOKEN, true),  fake::Bool(CKA_PRIVATE, false),
                                        fake::Text(CKA_LABEL, label), fake::Raw(CKA_ID, id),
                                        fake::Raw(CKA_SUBJECT, subject), fake::Bool(CKA_VERIFY, true)};
    if (GetParam().gost) {
        const auto& gost = *contents.privateKey.gost;
        ASSERT_EQ(gost.privateValue.size(), 32u);
        const Bytes paramsA = crypto::test::Hex("06072a850302022301");
        const Bytes hashParams = crypto::test::Hex("06072a850302021e01");
        privateKey.insert(privateKey.end(), {fake::Raw(CKA_VALUE, gost.privateValue),
                                             fake::Raw(CKA_GOSTR3410_PARAMS, paramsA),
                                             fake::Raw(CKA_GOSTR3411_PARAMS, hashParams)});
        publicKey.insert(publicKey.end(), {fake::Raw(CKA_VALUE, contents.publicKey.gost->publicValue),
                                           fake::Raw(CKA_GOSTR3410_PARAMS, paramsA),
                                           fake::Raw(CKA_GOSTR3411_PARAMS, hashParams)});
    } else {
        const auto& rsa = *contents.privateKey.rsa;
        privateKey.insert(privateKey.end(),
                          {fake::Raw(CKA_MODULUS, rsa.modulus), fake::Raw(CKA_PUBLIC_EXPONENT, rsa.publicExponent),
                           fake::Raw(CKA_PRIVATE_EXPONENT, rsa.privateExponent), fake::Raw(CKA_PRIME_1, rsa.prime1),
                           fake::Raw(CKA_PRIME_2, rsa.prime2), fake::Raw(CKA_EXPONENT_1, rsa.exponent1),
                           fake::Raw(CKA_EXPONENT_2, rsa.exponent2), fake::Raw(CKA_COEFFICIENT, rsa.coefficient)});
        publicKey.insert(publicKey.end(),
                         {fake::Raw(CKA_MODULUS, rsa.modulus), fake::Raw(CKA_PUBLIC_EXPONENT, rsa.publicExponent)});
    }
    EXPECT_EQ(Describe(creates[0].templates[0]), Describe(privateKey));
    EXPECT_EQ(Describe(creates[1].templates[0]), Describe(publicKey));
    EXPECT_EQ(Describe(creates[2].templates[0]), Describe(CertificateTemplate(label, id, contents.certificateDer)));
    EXPECT_EQ(fake::Objects().size(), 3u);
}

// Whichever object the module refuses, the objects made before it go again, newest first.
TEST_P(Pkcs12ImportTest, RefusedObjectGivesTheModuleCodeAndLeavesNothing)
{
    for (int refused = 1; refused <= 3; ++refused) {
        fake::Reset();
        fake::AddSlot(kSlot, "slot");
        ASSERT_EQ(m_list.C_Initialize(nullptr), CKR_OK);
        ASSERT_EQ(m_list.C_OpenSession(kSlot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &m_session),
                  CKR_OK);
        fake::ClearCalls();
        fake::Fail("C_CreateObject", CKR_DEVICE_MEMORY, refused, true);
        EXPECT_EQ(Load(File()), CKR_DEVICE_MEMORY) << "refused object " << refused;
        std::vector<std::string> expected(static_cast<size_t>(refused), "C_CreateObject");
        expected.insert(expected.end(), static_cast<size_t>(refused - 1), "C_DestroyObject");
        EXPECT_EQ(Names(), expected) << "refused object " << refused;
        const std::vector<fake::Call> destroyed = CallsNamed("C_DestroyObject");
        for (size_t i = 0; i < destroyed.size(); ++i) EXPECT_EQ(destroyed[i].args[0], m_session);
        if (refused == 3) {
            EXPECT_LT(destroyed[1].args[1], destroyed[0].args[1]) << "newest first";
        }
        EXPECT_TRUE(fake::Objects().empty()) << "refused object " << refused;
    }
}

TEST_P(Pkcs12ImportTest, FileFaultsGiveTheSoftwareTokenCodesWithoutAnyCall)
{
    const Bytes file = File();
    const Bytes truncated(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() / 2));
    EXPECT_EQ(Load(File(), {'9', '9', '9'}), CKR_PIN_INCORRECT);
    EXPECT_EQ(Load(truncated), CKR_DATA_INVALID);
    EXPECT_EQ(Load({'x'}), CKR_DATA_INVALID);
    EXPECT_EQ(CStandardCalls::LoadCert(&m_list, m_session, nullptr, 0, nullptr, 0), CKR_ARGUMENTS_BAD);
    Bytes copy = file;
    EXPECT_EQ(CStandardCalls::LoadCert(&m_list, m_session, copy.data(), copy.size(), nullptr, 3), CKR_ARGUMENTS_BAD);
    EXPECT_TRUE(Names().empty());
}

INSTANTIATE_TEST_SUITE_P(KeyFiles, Pkcs12ImportTest, ::testing::ValuesIn(kKeyFiles),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace standard_test
