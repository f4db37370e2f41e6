#include "standard/StandardCalls.h"

#include "standard/CertificateTemplate.h"
#include "standard/CreatedObjects.h"
#include "standard/Pkcs12Import.h"
#include "standard/PublicKeyReader.h"
#include "standard/RequestSigner.h"
#include "support/PKCSException.h"

#include "crypto/CertificateRequest.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using crypto::CryptoError;

constexpr size_t kMaxLabel = 255;  // bytes before the NUL, as the software token takes them

// Every outcome as a code: a module's failure unchanged, the crypto layer's verdict, or a
// failure of this side.
template <typename Body>
CK_RV Guarded(CK_FUNCTION_LIST* functions, Body body) noexcept
{
    if (functions == nullptr) return CKR_ARGUMENTS_BAD;
    try {
        return body();
    } catch (const CPKCSException& e) {
        return e.m_rv;
    } catch (const CryptoError& e) {
        return e.Rv();
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (...) {
        return CKR_FUNCTION_FAILED;
    }
}

void Require(bool condition, CK_RV rv)
{
    if (!condition) throw CryptoError(rv, "unusable arguments");
}

// A copy of a caller's buffer; a null pointer is allowed only with length 0.
Bytes FromCaller(const unsigned char* data, CK_ULONG length)
{
    Require(data != nullptr || length == 0, CKR_ARGUMENTS_BAD);
    return length == 0 ? Bytes() : Bytes(data, data + length);
}

}  // namespace

CK_RV CStandardCalls::LoadCert(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session, CK_BYTE_PTR p12,
                               CK_ULONG p12Len, CK_BYTE_PTR password, CK_ULONG passwordLen)
{
    return Guarded(functions, [&] {
        Require(p12 != nullptr, CKR_ARGUMENTS_BAD);
        const CPkcs12Import file(FromCaller(p12, p12Len), password, passwordLen);
        file.CreateObjects(functions, session);
        return CKR_OK;
    });
}

CK_RV CStandardCalls::LoadX509Cert(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session, const char* label,
                                   CK_BYTE_PTR id, CK_ULONG idLen, CK_BYTE_PTR der, CK_ULONG derLen)
{
    return Guarded(functions, [&] {
        Require(label != nullptr && der != nullptr, CKR_ARGUMENTS_BAD);
        const size_t labelLength = strnlen(label, kMaxLabel + 1);
        Require(labelLength <= kMaxLabel, CKR_ARGUMENTS_BAD);
        CAttributeTemplate certificate = CCertificateTemplate::Make(std::string(label, labelLength),
                                                                    FromCaller(id, idLen), FromCaller(der, derLen));
        CCreatedObjects created(functions, session);
        created.Create(certificate);
        created.Keep();
        return CKR_OK;
    });
}

CK_RV CStandardCalls::CreateCSR(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE publicKey,
                                CK_BYTE_PTR subject, CK_ULONG subjectCount, CK_BYTE_PTR csr, CK_ULONG_PTR csrLen,
                                CK_OBJECT_HANDLE privateKey, CK_BYTE_PTR attributes, CK_ULONG attributeCount,
                                CK_BYTE_PTR extensions, CK_ULONG extensionCount)
{
    using crypto::CertificateRequest;
    return Guarded(functions, [&] {
        Require(csrLen != nullptr, CKR_ARGUMENTS_BAD);
        const crypto::RequestLists lists = CertificateRequest::Unpack(
            subject, subjectCount, attributes, attributeCount, extensions, extensionCount);
        const crypto::KeyMaterial key = CPublicKeyReader::Read(functions, session, publicKey);
        const CRequestSigner signer(functions, session, privateKey, key);
        // The length comes from a request with a placeholder signature of the right length, so
        // neither the size query nor a short buffer costs the token a signature.
        const size_t length = CertificateRequest::BuildSigned(key, lists, [&](const Bytes&) {
                                  return Bytes(signer.SignatureLength(), 0);
                              }).size();
        if (csr == nullptr || *csrLen < length) {
            *csrLen = static_cast<CK_ULONG>(length);
            return csr == nullptr ? CKR_OK : CKR_BUFFER_TOO_SMALL;
        }
        const Bytes request =
            CertificateRequest::BuildSigned(key, lists, [&](const Bytes& toBeSigned) { return signer.Sign(toBeSigned); });
        if (request.size() != length) throw CryptoError(CKR_FUNCTION_FAILED, "the request changed its length");
        std::memcpy(csr, request.data(), request.size());
        *csrLen = static_cast<CK_ULONG>(request.size());
        return CKR_OK;
    });
}

// Signing with a certificate and checking a detached signature are not done with standard calls.
CK_RV CStandardCalls::SignWithCert(CK_FUNCTION_LIST*, CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_OBJECT_HANDLE,
                                   CK_BYTE_PTR, CK_ULONG_PTR, CK_ULONG, CK_ULONG, CK_ULONG, CK_ULONG)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV CStandardCalls::VerifySignature(CK_FUNCTION_LIST*, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
