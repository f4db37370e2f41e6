#include "StandardTestSupport.h"

#include "TempDir.h"
#include "crypto/Digest.h"
#include "crypto/GostR3410.h"
#include "crypto/Rsa.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/sha.h>

#include <stdexcept>

namespace standard_test {

const KeyFile kKeyFiles[2] = {
    {"Rsa", "clientTest2.p12", false, CKM_SHA256_RSA_PKCS, CKM_RSA_PKCS},
    {"Gost", "clientGostA.p12", true, CKM_GOSTR3410_WITH_GOSTR3411, CKM_GOSTR3410},
};
const Bytes kP12Password = {'3', '5', '7'};

crypto::Pkcs12Contents ReadKeyFile(const KeyFile& file)
{
    return crypto::Pkcs12::Parse(ReadFile(ConfFile(file.p12)), kP12Password);
}

namespace {

// The DER element at p (tag and length included) and the position after it.
Bytes Element(const unsigned char*& p, const unsigned char* end)
{
    const unsigned char* start = p;
    long length = 0;
    int tag = 0, cls = 0;
    if (ASN1_get_object(&p, &length, &tag, &cls, end - p) & 0x80) throw std::runtime_error("bad DER");
    p += length;
    if (p > end) throw std::runtime_error("truncated DER");
    return Bytes(start, p);
}

// The contents of a DER element: what follows its tag and length.
Bytes Contents(const Bytes& element)
{
    const unsigned char* p = element.data();
    long length = 0;
    int tag = 0, cls = 0;
    ASN1_get_object(&p, &length, &tag, &cls, static_cast<long>(element.size()));
    return Bytes(p, p + length);
}

}  // namespace

RequestParts SplitRequest(const Bytes& der)
{
    const Bytes outer = Contents(der);
    const unsigned char* p = outer.data();
    const unsigned char* end = p + outer.size();
    RequestParts parts;
    parts.toBeSigned = Element(p, end);
    const Bytes algorithm = Contents(Element(p, end));
    const Bytes bits = Contents(Element(p, end));
    if (p != end || bits.empty() || bits[0] != 0) throw std::runtime_error("not a request");
    parts.signature.assign(bits.begin() + 1, bits.end());
    const unsigned char* oid = algorithm.data();
    ASN1_OBJECT* object = d2i_ASN1_OBJECT(nullptr, &oid, static_cast<long>(algorithm.size()));
    char text[80] = {};
    if (object != nullptr) OBJ_obj2txt(text, sizeof text, object, 1);
    ASN1_OBJECT_free(object);
    parts.signatureAlgorithm = text;
    return parts;
}

bool OpensslVerifies(const Bytes& der, bool gost, std::string* output)
{
    TempDir dir("standard-test-");
    crypto::test::WriteFile(dir.Path("csr.der"), der);
    const std::string command = "openssl req -inform DER -verify -noout -in " + dir.Path("csr.der") +
                                (gost ? " -engine gost" : "");
    const int status = crypto::test::RunCommand(command, output);
    return status == 0 && output->find("verify OK") != std::string::npos;
}

Bytes TokenSignature(const crypto::KeyMaterial& privateKey, CK_MECHANISM_TYPE mechanism, const Bytes& data)
{
    using namespace crypto;
    switch (mechanism) {
    case CKM_SHA256_RSA_PKCS:
        return Rsa::SignSha256Pkcs1(Rsa::LoadPrivate(*privateKey.rsa), data);
    case CKM_RSA_PKCS:
        return Rsa::SignPkcs1Raw(Rsa::LoadPrivate(*privateKey.rsa), data);
    case CKM_GOSTR3410_WITH_GOSTR3411:
        return GostR3410::Sign(*privateKey.gost, Digest::Gost94(data));
    case CKM_GOSTR3410:
        return GostR3410::Sign(*privateKey.gost, data);
    default:
        throw std::invalid_argument("mechanism");
    }
}

Bytes Pack(const std::vector<std::string>& strings)
{
    Bytes packed;
    for (const std::string& text : strings) {
        packed.insert(packed.end(), text.begin(), text.end());
        packed.push_back(0);
    }
    return packed;
}

Bytes Sha256DigestInfo(const Bytes& data)
{
    Bytes info = crypto::test::Hex("3031300d060960864801650304020105000420");
    unsigned char hash[SHA256_DIGEST_LENGTH];
    SHA256(data.data(), data.size(), hash);
    info.insert(info.end(), hash, hash + sizeof hash);
    return info;
}

}  // namespace standard_test
