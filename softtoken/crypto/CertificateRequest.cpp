#include "CertificateRequest.h"

#include "GostEngine.h"
#include "KeyCodec.h"
#include "OpenSsl.h"
#include "RsaKeys.h"

namespace softtoken::crypto {
namespace {

int KnownNid(const std::string& name) {
    int nid = OBJ_txt2nid(name.c_str());
    if (nid == NID_undef) ThrowCrypto(CKR_ARGUMENTS_BAD, "unknown name in the request: " + name);
    return nid;
}

bool Critical(const std::string& flag) {
    if (flag == "1") return true;
    if (flag == "0" || flag.empty()) return false;
    ThrowCrypto(CKR_ARGUMENTS_BAD, "an extension's criticality is \"1\", \"0\" or empty");
}

X509NamePtr Subject(const std::vector<std::pair<std::string, std::string>>& subject) {
    X509NamePtr name(X509_NAME_new());
    if (!name) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate a name");
    for (const auto& [type, value] : subject) {
        int nid = KnownNid(type);
        const auto* bytes = reinterpret_cast<const unsigned char*>(value.c_str());
        if (X509_NAME_add_entry_by_NID(name.get(), nid, MBSTRING_UTF8, bytes, static_cast<int>(value.size()), -1, 0) != 1)
            ThrowCrypto(CKR_ARGUMENTS_BAD, "unusable subject entry: " + type);
    }
    return name;
}

void AddAttributes(X509_REQ* req, const std::vector<std::pair<std::string, std::string>>& attributes) {
    for (const auto& [type, value] : attributes) {
        int nid = KnownNid(type);
        const auto* bytes = reinterpret_cast<const unsigned char*>(value.c_str());
        if (X509_REQ_add1_attr_by_NID(req, nid, MBSTRING_UTF8, bytes, static_cast<int>(value.size())) != 1)
            ThrowCrypto(CKR_ARGUMENTS_BAD, "unusable attribute: " + type);
    }
}

void AddExtensions(X509_REQ* req, const std::vector<std::array<std::string, 3>>& extensions) {
    if (extensions.empty()) return;
    ExtensionStackPtr stack(sk_X509_EXTENSION_new_null());
    if (!stack) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate extensions");
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, nullptr, nullptr, req, nullptr, 0);
    X509V3_set_ctx_nodb(&ctx);
    for (const auto& [name, value, flag] : extensions) {
        int nid = KnownNid(name);
        bool critical = Critical(flag);
        X509ExtensionPtr extension(X509V3_EXT_nconf_nid(nullptr, &ctx, nid, value.c_str()));
        if (!extension) ThrowCrypto(CKR_ARGUMENTS_BAD, "unusable extension: " + name);
        X509_EXTENSION_set_critical(extension.get(), critical ? 1 : 0);
        if (sk_X509_EXTENSION_push(stack.get(), extension.get()) == 0)
            ThrowCrypto(CKR_HOST_MEMORY, "cannot add an extension");
        extension.release();
    }
    if (X509_REQ_add_extensions(req, stack.get()) != 1) ThrowCrypto(CKR_FUNCTION_FAILED, "cannot add extensions");
}

}  // namespace

Bytes CertificateRequest::Build(const KeyMaterial& publicKey, const KeyMaterial& privateKey,
                                const std::vector<std::pair<std::string, std::string>>& subject,
                                const std::vector<std::pair<std::string, std::string>>& attributes,
                                const std::vector<std::array<std::string, 3>>& extensions) {
    auto lock = GostEngine::Lock();
    EvpPkeyPtr pub = KeyCodec::LoadPublic(publicKey, CKR_KEY_HANDLE_INVALID);
    EvpPkeyPtr priv = KeyCodec::LoadPrivate(privateKey, CKR_KEY_HANDLE_INVALID);
    if (EVP_PKEY_eq(pub.get(), priv.get()) != 1)
        ThrowCrypto(CKR_KEY_HANDLE_INVALID, "the public and private keys are not one pair");

    X509ReqPtr req(X509_REQ_new());
    if (!req) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate a request");
    X509NamePtr name = Subject(subject);
    if (X509_REQ_set_version(req.get(), 0) != 1 || X509_REQ_set_subject_name(req.get(), name.get()) != 1 ||
        X509_REQ_set_pubkey(req.get(), pub.get()) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot fill the request");
    AddAttributes(req.get(), attributes);
    AddExtensions(req.get(), extensions);

    const EVP_MD* md = RsaKeys::IsRsa(priv.get()) ? EVP_sha256() : EVP_get_digestbyname("md_gost94");
    if (md == nullptr || X509_REQ_sign(req.get(), priv.get(), md) <= 0)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot sign the request");
    Bytes der = EncodeDer<const X509_REQ, i2d_X509_REQ>(req.get());
    ERR_clear_error();
    return der;
}

}  // namespace softtoken::crypto
