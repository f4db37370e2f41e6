#include "standard/RequestSigner.h"

#include "standard/ModuleCall.h"

#include "crypto/CryptoError.h"
#include "crypto/Digest.h"

#include <algorithm>

namespace {

using crypto::CryptoError;
using crypto::Digest;

constexpr size_t kGostSignatureLength = 64;  // s then r
// More than any signature of a key the tests make: a size query above it is not believed.
constexpr CK_ULONG kLongestSignature = 16384;

// DER of DigestInfo { sha256, NULL } up to the 32 hash bytes that follow.
const unsigned char kSha256DigestInfoPrefix[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                                 0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};

size_t ModulusLength(const crypto::Bytes& modulus)
{
    const auto firstNonZero = std::find_if(modulus.begin(), modulus.end(), [](unsigned char b) { return b != 0; });
    return static_cast<size_t>(modulus.end() - firstNonZero);
}

}  // namespace

CRequestSigner::CRequestSigner(CK_FUNCTION_LIST* functions, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE privateKey,
                               const crypto::KeyMaterial& publicKey)
    : m_functions(functions), m_session(session), m_privateKey(privateKey), m_isRsa(publicKey.rsa.has_value()),
      m_signatureLength(m_isRsa ? ModulusLength(publicKey.rsa->modulus) : kGostSignatureLength)
{
}

bool CRequestSigner::TokenLacks(CK_MECHANISM_TYPE mechanism) const
{
    CK_SESSION_INFO session = {};
    if (CModuleCall::Result(m_functions->C_GetSessionInfo, m_session, &session) != CKR_OK) return false;
    CK_MECHANISM_INFO info = {};
    const CK_RV rv = CModuleCall::Result(m_functions->C_GetMechanismInfo, session.slotID, mechanism, &info);
    return rv == CKR_MECHANISM_INVALID || (rv == CKR_OK && (info.flags & CKF_SIGN) == 0);
}

CK_MECHANISM_TYPE CRequestSigner::ChooseMechanism() const
{
    const CK_MECHANISM_TYPE hashAndSign = m_isRsa ? CKM_SHA256_RSA_PKCS : CKM_GOSTR3410_WITH_GOSTR3411;
    if (!TokenLacks(hashAndSign)) return hashAndSign;
    return m_isRsa ? CKM_RSA_PKCS : CKM_GOSTR3410;
}

CRequestSigner::Bytes CRequestSigner::Sign(const Bytes& toBeSigned) const
{
    CK_MECHANISM mechanism = {ChooseMechanism(), nullptr, 0};
    Bytes data = toBeSigned;
    if (mechanism.mechanism == CKM_RSA_PKCS) {
        const Bytes hash = Digest::Sha256(toBeSigned);
        data.assign(std::begin(kSha256DigestInfoPrefix), std::end(kSha256DigestInfoPrefix));
        data.insert(data.end(), hash.begin(), hash.end());
    } else if (mechanism.mechanism == CKM_GOSTR3410) {
        data = Digest::Gost94(toBeSigned);
    }
    CModuleCall::Run("C_SignInit", m_functions->C_SignInit, m_session, &mechanism, m_privateKey);
    // The token says how long its signature is; the request has room for this key's length only.
    CK_ULONG length = 0;
    CModuleCall::Run("C_Sign", m_functions->C_Sign, m_session, data.data(), static_cast<CK_ULONG>(data.size()),
                     nullptr, &length);
    if (length < m_signatureLength || length > kLongestSignature)
        throw CryptoError(CKR_FUNCTION_FAILED, "the token reports an unusable signature length");
    Bytes signature(length);
    CModuleCall::Run("C_Sign", m_functions->C_Sign, m_session, data.data(), static_cast<CK_ULONG>(data.size()),
                     signature.data(), &length);
    if (length != m_signatureLength) throw CryptoError(CKR_FUNCTION_FAILED, "a signature of an unexpected length");
    signature.resize(length);
    return signature;
}
