#include "mechanisms/gost/Gost28147Encryption.h"

#include "mechanisms/gost/GostConstants.h"
#include "crypto/CryptoError.h"

namespace softtoken {
namespace {

using Mode = crypto::Gost28147Cipher::Mode;

Mode ModeOf(CK_MECHANISM_TYPE mechanism) {
    if (mechanism == CKM_GOST28147_ECB) return Mode::Ecb;
    if (mechanism == CKM_NIMB_GOST28147_CNT) return Mode::Cnt;
    return Mode::Cfb;
}

Bytes IvOf(const CK_MECHANISM& mechanism, Mode mode) {
    if (mode == Mode::Ecb) {
        Require(mechanism.ulParameterLen == 0, CKR_MECHANISM_PARAM_INVALID);
        return {};
    }
    Require(mechanism.ulParameterLen == 0 || mechanism.ulParameterLen == crypto::Gost28147Cipher::kIvLength,
            CKR_MECHANISM_PARAM_INVALID);
    if (mechanism.ulParameterLen == 0) return {};
    Require(mechanism.pParameter != nullptr, CKR_MECHANISM_PARAM_INVALID);
    const auto* iv = static_cast<const unsigned char*>(mechanism.pParameter);
    return Bytes(iv, iv + crypto::Gost28147Cipher::kIvLength);
}

bool Encrypts(KeyUse use) { return use == KeyUse::Encrypt || use == KeyUse::Wrap; }

}  // namespace

Gost28147Encryption::Gost28147Encryption(const CK_MECHANISM& mechanism, const Object& key, KeyUse use)
    : m_use(use) {
    const Mode mode = ModeOf(mechanism.mechanism);
    const Bytes iv = IvOf(mechanism, mode);
    Answered([&] {
        m_cipher = std::make_unique<crypto::Gost28147Cipher>(mode, key.Get(CKA_VALUE), key.Get(CKA_GOST28147_PARAMS),
                                                             iv, Encrypts(use));
        return Bytes{};
    });
}

Bytes Gost28147Encryption::Update(const unsigned char* data, size_t length) {
    return Answered([&] { return m_cipher->Update(data, length); });
}

Bytes Gost28147Encryption::Final() {
    return Answered([&] { return m_cipher->Final(); });
}

// The crypto layer's codes as this call answers them: stored values that form no key are an
// inconsistent key, and a key to wrap that is not whole blocks has a size ECB cannot take.
template <typename Step>
Bytes Gost28147Encryption::Answered(Step step) {
    try {
        return step();
    } catch (const crypto::CryptoError& error) {
        if (error.Rv() == CKR_ATTRIBUTE_VALUE_INVALID || error.Rv() == CKR_KEY_SIZE_RANGE)
            throw Pkcs11Error(CKR_KEY_TYPE_INCONSISTENT);
        if (m_use == KeyUse::Wrap && error.Rv() == CKR_DATA_LEN_RANGE) throw Pkcs11Error(CKR_KEY_SIZE_RANGE);
        throw Pkcs11Error(error.Rv());
    }
}

}  // namespace softtoken
