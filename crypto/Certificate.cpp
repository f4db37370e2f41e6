#include "Certificate.h"

#include "GostEngine.h"
#include "KeyCodec.h"
#include "OpenSsl.h"

namespace crypto {
namespace {

std::string CommonName(const X509_NAME* name) {
    int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    if (index < 0) return {};
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, value);
    if (length < 0) {
        ERR_clear_error();
        return {};
    }
    OpenSslBytesPtr owner(utf8);
    return std::string(reinterpret_cast<const char*>(utf8), static_cast<size_t>(length));
}

KeyMaterial PublicKeyOf(X509* cert) {
    EVP_PKEY* key = X509_get0_pubkey(cert);
    if (key == nullptr) {
        ERR_clear_error();
        return {};
    }
    try {
        return KeyCodec::Export(key, false);
    } catch (const CryptoError&) {
        return {};  // a key the token cannot use does not stop the certificate being stored
    }
}

}  // namespace

CertificateFields Certificate::Parse(const Bytes& der) {
    if (der.empty() || der.size() > kMaxInputLength)
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "not an X.509 certificate");
    auto lock = GostEngine::Lock();
    const unsigned char* p = der.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (!cert || p != der.data() + der.size())
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "not exactly one X.509 certificate");

    CertificateFields fields;
    fields.subject = EncodeDer<const X509_NAME, i2d_X509_NAME>(X509_get_subject_name(cert.get()));
    fields.issuer = EncodeDer<const X509_NAME, i2d_X509_NAME>(X509_get_issuer_name(cert.get()));
    fields.serialNumber = EncodeDer<const ASN1_INTEGER, i2d_ASN1_INTEGER>(X509_get0_serialNumber(cert.get()));
    fields.commonName = CommonName(X509_get_subject_name(cert.get()));
    fields.publicKey = PublicKeyOf(cert.get());
    ERR_clear_error();
    return fields;
}

}  // namespace crypto
