// The five vendor entries: certificate and PKCS#12 import, CSR, CMS signature and its check.
#include "objects/CertificateObject.h"
#include "entries/EntryGuard.h"
#include "entries/VendorEntries.h"
#include "objects/KeyAccess.h"
#include "objects/KeyFactory.h"
#include "objects/ObjectPolicy.h"
#include "store/StoreCipher.h"
#include "objects/WipeGuard.h"
#include "crypto/CertificateRequest.h"
#include "crypto/CmsSignature.h"
#include "crypto/Pkcs12.h"

#include <array>
#include <string>

using namespace softtoken;

namespace {

constexpr size_t kMaxLabel = 255;     // bytes before the NUL

// Length of a NUL-terminated string read at most up to limit + 1 bytes; none when longer.
size_t BoundedLength(const char* text, size_t limit) {
    for (size_t i = 0; i <= limit; ++i)
        if (text[i] == '\0') return i;
    throw Pkcs11Error(CKR_ARGUMENTS_BAD);
}

std::shared_ptr<Object> KeyOfClass(Module& module, const Session& session, CK_OBJECT_HANDLE handle,
                                   CK_OBJECT_CLASS objectClass) {
    std::shared_ptr<Object> key = module.TokenOf(session).Find(handle);
    Require(key != nullptr && key->Class() == objectClass, CKR_KEY_HANDLE_INVALID);
    return key;
}

std::string RequestKey(std::initializer_list<std::string> parts) {
    std::string key;
    for (const std::string& part : parts) key += std::to_string(part.size()) + ":" + part;
    return key;
}

// Hands out a blob with the length protocol, building it only when the request changed.
template <typename Build>
CK_RV CachedToCaller(Session& session, const std::string& request, Build build, CK_BYTE_PTR out,
                     CK_ULONG_PTR outLength) {
    const Bytes requestBytes(request.begin(), request.end());
    if (session.vendorRequest != requestBytes || session.vendorResult.empty()) {
        session.vendorResult = build();
        session.vendorRequest = requestBytes;
    }
    const CK_RV rv = ToCaller(session.vendorResult, out, outLength);
    if (out != nullptr && rv == CKR_OK) {
        session.vendorRequest.clear();
        session.vendorResult.clear();
    }
    return rv;
}

}  // namespace

extern "C" {

CK_RV C_KTL_LoadCert(CK_SESSION_HANDLE handle, CK_BYTE_PTR p12, CK_ULONG p12Length, CK_BYTE_PTR password,
                     CK_ULONG passwordLength) {
    return Guarded([&](Module& module) {
        Require(p12 != nullptr && (password != nullptr || passwordLength == 0), CKR_ARGUMENTS_BAD);
        Bytes secret = FromCaller(password, passwordLength);
        WipeGuard wipe(secret);
        Session& session = module.SessionAt(handle);
        Require(session.IsReadWrite(), CKR_SESSION_READ_ONLY);
        Token& token = module.TokenOf(session);
        Require(token.State() == Token::Login::User, CKR_USER_NOT_LOGGED_IN);
        crypto::Pkcs12Contents contents = crypto::Pkcs12::Parse(FromCaller(p12, p12Length), secret);
        token.AddAll(KeyFactory::FromPkcs12(contents));
        if (contents.privateKey.rsa) StoreCipher::Wipe(contents.privateKey.rsa->privateExponent);
        if (contents.privateKey.gost) StoreCipher::Wipe(contents.privateKey.gost->privateValue);
        return CKR_OK;
    });
}

CK_RV C_KTL_LoadX509Cert(CK_SESSION_HANDLE handle, const char* label, CK_BYTE_PTR id, CK_ULONG idLength,
                         CK_BYTE_PTR der, CK_ULONG derLength) {
    return Guarded([&](Module& module) {
        Require(label != nullptr && der != nullptr && (id != nullptr || idLength == 0), CKR_ARGUMENTS_BAD);
        const size_t labelLength = BoundedLength(label, kMaxLabel);
        Session& session = module.SessionAt(handle);
        Require(session.IsReadWrite(), CKR_SESSION_READ_ONLY);
        Object certificate = CertificateObject::Make(Bytes(label, label + labelLength), FromCaller(id, idLength),
                                                     FromCaller(der, derLength));
        module.TokenOf(session).Add(std::move(certificate));
        return CKR_OK;
    });
}

CK_RV C_KTL_CreateCSR(CK_SESSION_HANDLE handle, CK_OBJECT_HANDLE publicKey, CK_BYTE_PTR subject,
                      CK_ULONG subjectCount, CK_BYTE_PTR csr, CK_ULONG_PTR csrLength, CK_OBJECT_HANDLE privateKey,
                      CK_BYTE_PTR attributes, CK_ULONG attributeCount, CK_BYTE_PTR extensions,
                      CK_ULONG extensionCount) {
    return Guarded([&](Module& module) {
        Require(csrLength != nullptr, CKR_ARGUMENTS_BAD);
        const crypto::RequestLists lists = crypto::CertificateRequest::Unpack(
            subject, subjectCount, attributes, attributeCount, extensions, extensionCount);
        Session& session = module.SessionAt(handle);
        std::shared_ptr<Object> publicObject = KeyOfClass(module, session, publicKey, CKO_PUBLIC_KEY);
        std::shared_ptr<Object> privateObject = KeyOfClass(module, session, privateKey, CKO_PRIVATE_KEY);
        Require(privateObject->Bool(CKA_SIGN), CKR_KEY_FUNCTION_NOT_PERMITTED);
        std::string texts;
        for (const auto& [type, value] : lists.subject) texts += RequestKey({type, value});
        for (const auto& [type, value] : lists.attributes) texts += RequestKey({type, value});
        for (const auto& [name, value, critical] : lists.extensions) texts += RequestKey({name, value, critical});
        const std::string request =
            RequestKey({"csr", std::to_string(publicKey), std::to_string(privateKey), texts});
        auto build = [&] {
            return crypto::CertificateRequest::Build(KeyAccess::Material(*publicObject),
                                                     KeyAccess::Material(*privateObject), lists.subject,
                                                     lists.attributes, lists.extensions);
        };
        return CachedToCaller(session, request, build, csr, csrLength);
    });
}

CK_RV C_KTL_SignWithCert(CK_SESSION_HANDLE handle, CK_BYTE_PTR data, CK_ULONG dataLength,
                         CK_OBJECT_HANDLE certificate, CK_BYTE_PTR signature, CK_ULONG_PTR signatureLength,
                         CK_ULONG reserved1, CK_ULONG reserved2, CK_ULONG reserved3, CK_ULONG reserved4) {
    return Guarded([&](Module& module) {
        Require((data != nullptr || dataLength == 0) && signatureLength != nullptr, CKR_ARGUMENTS_BAD);
        Require(reserved1 == 0 && reserved2 == 0 && reserved3 == 0 && reserved4 == 0, CKR_ARGUMENTS_BAD);
        const Bytes content = FromCaller(data, dataLength);
        Session& session = module.SessionAt(handle);
        std::shared_ptr<Object> certificateObject = module.ObjectAt(session, certificate);
        Require(certificateObject->Class() == CKO_CERTIFICATE, CKR_OBJECT_HANDLE_INVALID);
        Token& token = module.TokenOf(session);
        Object wanted;
        wanted.SetUlong(CKA_CLASS, CKO_PRIVATE_KEY);
        wanted.Set(CKA_ID, certificateObject->Get(CKA_ID));
        token.Refresh();
        const std::vector<CK_OBJECT_HANDLE> keys = token.Search(wanted.Attributes());
        Require(!keys.empty(), CKR_KEY_HANDLE_INVALID);
        std::shared_ptr<Object> key = token.Find(keys.front());
        Require(key != nullptr, CKR_KEY_HANDLE_INVALID);
        Require(key->Bool(CKA_SIGN), CKR_KEY_FUNCTION_NOT_PERMITTED);
        const std::string request = RequestKey(
            {"cms", std::to_string(certificate), std::string(content.begin(), content.end())});
        auto build = [&] {
            return crypto::CmsSignature::SignDetached(KeyAccess::Material(*key), certificateObject->Get(CKA_VALUE),
                                                      content);
        };
        return CachedToCaller(session, request, build, signature, signatureLength);
    });
}

CK_RV C_KTL_VerifySignature(CK_BYTE_PTR signature, CK_ULONG signatureLength, CK_BYTE_PTR data,
                            CK_ULONG dataLength) {
    return Guarded([&](Module&) {
        Require(signature != nullptr && (data != nullptr || dataLength == 0), CKR_ARGUMENTS_BAD);
        return crypto::CmsSignature::Verify(FromCaller(signature, signatureLength), FromCaller(data, dataLength));
    });
}

}  // extern "C"
