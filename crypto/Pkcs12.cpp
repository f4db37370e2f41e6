#include "Pkcs12.h"

#include "GostEngine.h"
#include "KeyCodec.h"
#include "OpenSsl.h"

#include <openssl/pkcs12err.h>

#include <algorithm>

namespace crypto {
namespace {

Pkcs12Ptr Decode(const Bytes& file) {
    if (file.empty() || file.size() > kMaxInputLength) ThrowCrypto(CKR_DATA_INVALID, "not a PKCS#12 file");
    const unsigned char* p = file.data();
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, static_cast<long>(file.size())));
    if (!p12 || p != file.data() + file.size()) ThrowCrypto(CKR_DATA_INVALID, "not a PKCS#12 file");
    return p12;
}

// Why PKCS12_parse failed, from the errors it queued. It checks the MAC before anything else:
// a MAC that does not match means a wrong password; a MAC that cannot be computed (unknown
// digest, broken parameters) means a corrupt file. A file without a MAC fails in decryption,
// whose failure then stands for the password.
CK_RV ParseFailure(PKCS12* p12) {
    bool mismatch = false, unusable = false;
    for (unsigned long error = ERR_get_error(); error != 0; error = ERR_get_error()) {
        if (ERR_GET_LIB(error) != ERR_LIB_PKCS12) continue;
        if (ERR_GET_REASON(error) == PKCS12_R_MAC_VERIFY_FAILURE) mismatch = true;
        else if (!mismatch) unusable = true;
    }
    if (!PKCS12_mac_present(p12)) return CKR_PIN_INCORRECT;
    return mismatch && !unusable ? CKR_PIN_INCORRECT : CKR_DATA_INVALID;
}

std::string FriendlyName(X509* cert) {
    int length = 0;
    const unsigned char* alias = X509_alias_get0(cert, &length);
    if (alias == nullptr || length <= 0) return {};
    return std::string(reinterpret_cast<const char*>(alias), static_cast<size_t>(length));
}

}  // namespace

Pkcs12Contents Pkcs12::Parse(const Bytes& file, const Bytes& password) {
    // PKCS#12 passwords are NUL-terminated text: a NUL inside can never be the right one.
    if (std::find(password.begin(), password.end(), 0) != password.end())
        ThrowCrypto(CKR_PIN_INCORRECT, "wrong PKCS#12 password");
    std::string text(password.begin(), password.end());

    auto lock = GostEngine::Lock();
    Pkcs12Ptr p12 = Decode(file);
    ERR_clear_error();

    // One pass: PKCS12_parse checks the MAC itself (a separate check would double the cost of
    // the key derivation, which dominates a GOST import).
    EVP_PKEY* rawKey = nullptr;
    X509* rawCert = nullptr;
    STACK_OF(X509)* rawChain = nullptr;
    int parsed = PKCS12_parse(p12.get(), text.c_str(), &rawKey, &rawCert, &rawChain);
    EvpPkeyPtr key(rawKey);
    X509Ptr cert(rawCert);
    X509StackPtr chain(rawChain);
    if (parsed != 1) ThrowCrypto(ParseFailure(p12.get()), "cannot read the PKCS#12 contents");
    if (!key || !cert) ThrowCrypto(CKR_DATA_INVALID, "the PKCS#12 file lacks a key or a certificate");
    if (X509_check_private_key(cert.get(), key.get()) != 1)
        ThrowCrypto(CKR_DATA_INVALID, "the PKCS#12 key does not belong to its certificate");

    Pkcs12Contents contents;
    try {
        contents.privateKey = KeyCodec::Export(key.get(), true);
        contents.publicKey = KeyCodec::Export(key.get(), false);
    } catch (const CryptoError& e) {
        ThrowCrypto(CKR_DATA_INVALID, e.what());
    }
    if (!contents.privateKey.rsa && !contents.privateKey.gost)
        ThrowCrypto(CKR_DATA_INVALID, "the PKCS#12 key is neither RSA nor GOST R 34.10-2001");
    contents.certificateDer = EncodeDer<const X509, i2d_X509>(cert.get());
    contents.friendlyName = FriendlyName(cert.get());
    ERR_clear_error();
    return contents;
}

}  // namespace crypto
