// Placeholder bodies; the implementation follows.
#include "Rsa.h"
namespace softtoken::crypto {
void Rsa::KeyDeleter::operator()(evp_pkey_st*) const noexcept {}
RsaKeyComponents Rsa::Generate(CK_ULONG, const Bytes&) { throw CryptoError(CKR_FUNCTION_NOT_SUPPORTED, "todo"); }
Rsa::PrivateKey Rsa::LoadPrivate(const RsaKeyComponents&) { throw CryptoError(CKR_FUNCTION_NOT_SUPPORTED, "todo"); }
Rsa::PublicKey Rsa::LoadPublic(const Bytes&, const Bytes&) { throw CryptoError(CKR_FUNCTION_NOT_SUPPORTED, "todo"); }
Bytes Rsa::SignPkcs1Raw(const PrivateKey&, const Bytes&) { throw CryptoError(CKR_FUNCTION_NOT_SUPPORTED, "todo"); }
CK_RV Rsa::VerifyPkcs1Raw(const PublicKey&, const Bytes&, const Bytes&) { return CKR_FUNCTION_NOT_SUPPORTED; }
Bytes Rsa::SignSha256Pkcs1(const PrivateKey&, const Bytes&) { throw CryptoError(CKR_FUNCTION_NOT_SUPPORTED, "todo"); }
CK_RV Rsa::VerifySha256Pkcs1(const PublicKey&, const Bytes&, const Bytes&) { return CKR_FUNCTION_NOT_SUPPORTED; }
size_t Rsa::SignatureLength(const PrivateKey&) { return 0; }
size_t Rsa::SignatureLength(const PublicKey&) { return 0; }
}
