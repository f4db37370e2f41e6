#pragma once
// Owning pointers for the OpenSSL objects the crypto layer uses, and small helpers around
// the calls every class needs. Internal to the crypto layer: never included by the core.
#include "Bytes.h"
#include "CryptoError.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <climits>
#include <memory>
#include <string>

namespace crypto {

template <typename T, void (*Free)(T*)>
struct OpenSslDeleter {
    void operator()(T* p) const noexcept { Free(p); }
};
template <typename T, void (*Free)(T*)>
using OpenSslPtr = std::unique_ptr<T, OpenSslDeleter<T, Free>>;

inline void FreeBio(BIO* bio) { BIO_free_all(bio); }
inline void FreeX509Stack(STACK_OF(X509)* stack) { sk_X509_pop_free(stack, X509_free); }
inline void FreeExtensionStack(STACK_OF(X509_EXTENSION)* stack) {
    sk_X509_EXTENSION_pop_free(stack, X509_EXTENSION_free);
}
inline void FreeOpenSslBytes(unsigned char* p) { OPENSSL_free(p); }

using EvpPkeyPtr = OpenSslPtr<EVP_PKEY, EVP_PKEY_free>;
using EvpPkeyCtxPtr = OpenSslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using EvpMdCtxPtr = OpenSslPtr<EVP_MD_CTX, EVP_MD_CTX_free>;
using BioPtr = OpenSslPtr<BIO, FreeBio>;
using BignumPtr = OpenSslPtr<BIGNUM, BN_free>;
using BnCtxPtr = OpenSslPtr<BN_CTX, BN_CTX_free>;
using EcPointPtr = OpenSslPtr<EC_POINT, EC_POINT_free>;
using X509Ptr = OpenSslPtr<X509, X509_free>;
using X509ReqPtr = OpenSslPtr<X509_REQ, X509_REQ_free>;
using X509NamePtr = OpenSslPtr<X509_NAME, X509_NAME_free>;
using X509ExtensionPtr = OpenSslPtr<X509_EXTENSION, X509_EXTENSION_free>;
using X509StackPtr = OpenSslPtr<STACK_OF(X509), FreeX509Stack>;
using ExtensionStackPtr = OpenSslPtr<STACK_OF(X509_EXTENSION), FreeExtensionStack>;
using Pkcs12Ptr = OpenSslPtr<PKCS12, PKCS12_free>;
using CmsPtr = OpenSslPtr<CMS_ContentInfo, CMS_ContentInfo_free>;
using Asn1ObjectPtr = OpenSslPtr<ASN1_OBJECT, ASN1_OBJECT_free>;
using Asn1OctetStringPtr = OpenSslPtr<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>;
using Pkcs8Ptr = OpenSslPtr<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>;
using OpenSslBytesPtr = OpenSslPtr<unsigned char, FreeOpenSslBytes>;

// Larger inputs are refused before OpenSSL sees them: no token object comes near this.
constexpr size_t kMaxInputLength = 16u * 1024 * 1024;

// Drops whatever OpenSSL left in this thread's error queue and throws rv.
[[noreturn]] void ThrowCrypto(CK_RV rv, const std::string& what);

// A read-only memory BIO over the bytes (which must outlive it).
BioPtr MemoryBio(const Bytes& data);
// The bytes written into a memory BIO.
Bytes BioContents(BIO* bio);

// Big-endian bytes without leading zeros (one zero byte for zero is not produced: empty).
Bytes BignumToBytes(const BIGNUM* bn);
BignumPtr BytesToBignum(const Bytes& bytes);

// DER of an i2d-encodable object; throws CKR_FUNCTION_FAILED when encoding fails.
template <typename T, int (*Encode)(T*, unsigned char**)>
Bytes EncodeDer(T* object) {
    unsigned char* out = nullptr;
    int length = Encode(object, &out);
    if (length <= 0) ThrowCrypto(CKR_FUNCTION_FAILED, "DER encoding failed");
    OpenSslBytesPtr owner(out);
    return Bytes(out, out + length);
}

}  // namespace crypto
