#include "CertificateRequest.h"

#include "GostEngine.h"
#include "KeyCodec.h"
#include "OpenSsl.h"
#include "RsaKeys.h"

namespace crypto {
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

constexpr size_t kMaxListString = 1024;
constexpr CK_ULONG kMaxListEntries = 64;

using X509AlgorPtr = OpenSslPtr<X509_ALGOR, X509_ALGOR_free>;
using Asn1BitStringPtr = OpenSslPtr<ASN1_BIT_STRING, ASN1_BIT_STRING_free>;

// A request with everything but its signature.
X509ReqPtr Unsigned(EVP_PKEY* publicKey, const RequestLists& lists) {
    X509ReqPtr req(X509_REQ_new());
    if (!req) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate a request");
    X509NamePtr name = Subject(lists.subject);
    if (X509_REQ_set_version(req.get(), 0) != 1 || X509_REQ_set_subject_name(req.get(), name.get()) != 1 ||
        X509_REQ_set_pubkey(req.get(), publicKey) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot fill the request");
    AddAttributes(req.get(), lists.attributes);
    AddExtensions(req.get(), lists.extensions);
    return req;
}

// The signature algorithm (NULL parameters, as OpenSSL writes both) and the value.
void SetSignature(X509_REQ* req, int algorithmNid, const Bytes& signature) {
    X509AlgorPtr algorithm(X509_ALGOR_new());
    Asn1BitStringPtr value(ASN1_BIT_STRING_new());
    if (!algorithm || !value) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate the signature");
    if (signature.empty() || signature.size() > kMaxInputLength ||
        X509_ALGOR_set0(algorithm.get(), OBJ_nid2obj(algorithmNid), V_ASN1_NULL, nullptr) != 1 ||
        ASN1_STRING_set(value.get(), signature.data(), static_cast<int>(signature.size())) != 1 ||
        X509_REQ_set1_signature_algo(req, algorithm.get()) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set the signature");
    value->flags &= ~(ASN1_STRING_FLAG_BITS_LEFT | 0x07);  // whole bytes: no unused bits
    value->flags |= ASN1_STRING_FLAG_BITS_LEFT;
    X509_REQ_set0_signature(req, value.release());
}

Bytes SignWithKey(EVP_PKEY* key, const EVP_MD* md, const Bytes& data) {
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate a digest context");
    size_t length = 0;
    if (md == nullptr || EVP_DigestSignInit(ctx.get(), nullptr, md, nullptr, key) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &length, data.data(), data.size()) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot sign the request");
    Bytes signature(length);
    if (EVP_DigestSign(ctx.get(), signature.data(), &length, data.data(), data.size()) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot sign the request");
    signature.resize(length);
    return signature;
}

// Length of a NUL-terminated string read at most up to limit + 1 bytes; none when longer.
size_t BoundedLength(const char* text, size_t limit) {
    for (size_t i = 0; i <= limit; ++i)
        if (text[i] == '\0') return i;
    ThrowCrypto(CKR_ARGUMENTS_BAD, "a request list string is too long");
}

// Splits a packed list into entries of N strings each.
template <size_t N>
std::vector<std::array<std::string, N>> UnpackList(const unsigned char* packed, CK_ULONG entries) {
    if ((packed == nullptr && entries != 0) || entries > kMaxListEntries)
        ThrowCrypto(CKR_ARGUMENTS_BAD, "unusable request list");
    std::vector<std::array<std::string, N>> result(entries);
    const char* cursor = reinterpret_cast<const char*>(packed);
    for (auto& entry : result)
        for (std::string& text : entry) {
            const size_t length = BoundedLength(cursor, kMaxListString);
            text.assign(cursor, length);
            cursor += length + 1;
        }
    return result;
}

std::vector<std::pair<std::string, std::string>> Pairs(std::vector<std::array<std::string, 2>> entries) {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (auto& [first, second] : entries) pairs.emplace_back(std::move(first), std::move(second));
    return pairs;
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
    const EVP_MD* md = RsaKeys::IsRsa(priv.get()) ? EVP_sha256() : EVP_get_digestbyname("md_gost94");
    return BuildSigned(publicKey, RequestLists{subject, attributes, extensions},
                       [&](const Bytes& toBeSigned) { return SignWithKey(priv.get(), md, toBeSigned); });
}

Bytes CertificateRequest::BuildSigned(const KeyMaterial& publicKey, const RequestLists& lists, const Signer& sign) {
    auto lock = GostEngine::Lock();
    EvpPkeyPtr pub = KeyCodec::LoadPublic(publicKey, CKR_KEY_HANDLE_INVALID);
    X509ReqPtr req = Unsigned(pub.get(), lists);
    const Bytes toBeSigned = EncodeDer<X509_REQ, i2d_re_X509_REQ_tbs>(req.get());
    // The signer may call into a module, which takes this lock itself: sign without it.
    lock.unlock();
    const Bytes signature = sign(toBeSigned);
    lock.lock();
    SetSignature(req.get(), RsaKeys::IsRsa(pub.get()) ? NID_sha256WithRSAEncryption
                                                       : NID_id_GostR3411_94_with_GostR3410_2001,
                 signature);
    Bytes der = EncodeDer<const X509_REQ, i2d_X509_REQ>(req.get());
    ERR_clear_error();
    return der;
}

RequestLists CertificateRequest::Unpack(const unsigned char* subject, CK_ULONG subjectCount,
                                        const unsigned char* attributes, CK_ULONG attributeCount,
                                        const unsigned char* extensions, CK_ULONG extensionCount) {
    RequestLists lists;
    lists.subject = Pairs(UnpackList<2>(subject, subjectCount));
    lists.attributes = Pairs(UnpackList<2>(attributes, attributeCount));
    lists.extensions = UnpackList<3>(extensions, extensionCount);
    return lists;
}

}  // namespace crypto
