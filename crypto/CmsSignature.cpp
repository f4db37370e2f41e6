#include "CmsSignature.h"

#include "GostEngine.h"
#include "KeyCodec.h"
#include "OpenSsl.h"

namespace crypto {
namespace {

X509Ptr DecodeCertificate(const Bytes& der) {
    if (der.empty() || der.size() > kMaxInputLength)
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "not an X.509 certificate");
    const unsigned char* p = der.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (!cert || p != der.data() + der.size()) ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "not an X.509 certificate");
    return cert;
}

// The data behind a pass-through filter. CMS_verify copies a bare memory BIO into a
// temporary one that it leaks when the SignedData names a digest it cannot set up; a filter
// BIO takes the other path, which frees everything.
BioPtr ContentBio(const Bytes& data) {
    BioPtr memory = MemoryBio(data);
    BioPtr filter(BIO_new(BIO_f_null()));
    if (!filter) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate a BIO");
    BIO_push(filter.get(), memory.release());
    return filter;
}

}  // namespace

Bytes CmsSignature::SignDetached(const KeyMaterial& privateKey, const Bytes& certificateDer, const Bytes& data) {
    if (data.size() > kMaxInputLength) ThrowCrypto(CKR_DATA_LEN_RANGE, "data too long");
    auto lock = GostEngine::Lock();
    X509Ptr cert = DecodeCertificate(certificateDer);
    EvpPkeyPtr key = KeyCodec::LoadPrivate(privateKey, CKR_KEY_HANDLE_INVALID);
    if (X509_check_private_key(cert.get(), key.get()) != 1)
        ThrowCrypto(CKR_KEY_HANDLE_INVALID, "the key does not belong to the certificate");
    BioPtr content = MemoryBio(data);
    CmsPtr cms(CMS_sign(cert.get(), key.get(), nullptr, content.get(), CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP));
    if (!cms) ThrowCrypto(CKR_FUNCTION_FAILED, "CMS signing failed");
    Bytes der = EncodeDer<const CMS_ContentInfo, i2d_CMS_ContentInfo>(cms.get());
    ERR_clear_error();
    return der;
}

CK_RV CmsSignature::Verify(const Bytes& signature, const Bytes& data) {
    if (signature.empty() || signature.size() > kMaxInputLength) return CKR_SIGNATURE_LEN_RANGE;
    if (data.size() > kMaxInputLength) return CKR_DATA_LEN_RANGE;
    auto lock = GostEngine::Lock();
    const unsigned char* p = signature.data();
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(signature.size())));
    if (!cms || p != signature.data() + signature.size()) {
        ERR_clear_error();
        return CKR_SIGNATURE_LEN_RANGE;
    }
    STACK_OF(CMS_SignerInfo)* signers = nullptr;
    if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed || CMS_is_detached(cms.get()) != 1 ||
        (signers = CMS_get0_SignerInfos(cms.get())) == nullptr || sk_CMS_SignerInfo_num(signers) <= 0) {
        ERR_clear_error();
        return CKR_ARGUMENTS_BAD;
    }
    BioPtr content = ContentBio(data);
    int result = CMS_verify(cms.get(), nullptr, nullptr, content.get(), nullptr,
                            CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY);
    ERR_clear_error();
    return result == 1 ? CKR_OK : CKR_SIGNATURE_INVALID;
}

}  // namespace crypto
