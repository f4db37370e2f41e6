// The AES family: key generation, ECB, CBC, CBC with padding, CTR, GCM, CMAC and key wrap
// (RFC 3394, RFC 5649). Keys are 16, 24 or 32 bytes.
#include "mechanisms/BlockCipherOperation.h"
#include "mechanisms/CmacOperation.h"
#include "mechanisms/MechanismParameters.h"
#include "mechanisms/MechanismTable.h"
#include "mechanisms/SecretKeyValue.h"
#include "mechanisms/aes/AesGcmOperation.h"
#include "mechanisms/aes/AesKeyWrapOperation.h"
#include "mechanisms/aes/AesMechanismNames.h"

namespace softtoken {
namespace {

using Padding = BlockCipherOperation::Padding;
using Parameters = MechanismParameters;

constexpr size_t kBlock = 16;

// The same GCM parameters without ulIvBits, as later headers have them.
struct GcmParamsWithoutIvBits {
    CK_BYTE_PTR pIv;
    CK_ULONG ulIvLen;
    CK_BYTE_PTR pAAD;
    CK_ULONG ulAADLen;
    CK_ULONG ulTagBits;
};

bool Encrypts(KeyUse use) { return use == KeyUse::Encrypt || use == KeyUse::Wrap; }

const Bytes& Value(const Object& key) {
    const Bytes& value = key.Get(CKA_VALUE);
    Require(AesMechanismNames::IsKeyLength(value.size()), CKR_KEY_SIZE_RANGE);
    return value;
}

std::string Cipher(const Object& key, const char* mode) { return AesMechanismNames::Named(Value(key).size(), mode); }

std::unique_ptr<CipherOperation> Ecb(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    Parameters::RequireNone(mechanism);
    const Padding padding = use == KeyUse::Wrap ? Padding::ZeroFill : Padding::None;
    return std::make_unique<BlockCipherOperation>(Cipher(key, "ECB"), Value(key), Bytes(), Encrypts(use), padding);
}

std::unique_ptr<CipherOperation> Cbc(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    const Padding padding = use == KeyUse::Wrap ? Padding::ZeroFill : Padding::None;
    return std::make_unique<BlockCipherOperation>(Cipher(key, "CBC"), Value(key), Parameters::Iv(mechanism, kBlock),
                                                  Encrypts(use), padding);
}

std::unique_ptr<CipherOperation> CbcPad(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    return std::make_unique<BlockCipherOperation>(Cipher(key, "CBC"), Value(key), Parameters::Iv(mechanism, kBlock),
                                                  Encrypts(use), Padding::Pkcs7);
}

// The bytes left before the low counterBits of the counter block wrap; 0 when more than any
// input could reach.
unsigned long long CounterSpace(const CK_AES_CTR_PARAMS& params) {
    if (params.ulCounterBits >= 60) return 0;
    unsigned long long counter = 0;
    for (size_t i = kBlock - 8; i < kBlock; ++i) counter = (counter << 8) | params.cb[i];
    const unsigned long long blocks = 1ull << params.ulCounterBits;
    counter &= blocks - 1;
    return (blocks - counter) * kBlock;
}

std::unique_ptr<CipherOperation> Ctr(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    const auto& params = Parameters::As<CK_AES_CTR_PARAMS>(mechanism);
    Require(params.ulCounterBits >= 1 && params.ulCounterBits <= 128, CKR_MECHANISM_PARAM_INVALID);
    return std::make_unique<BlockCipherOperation>(Cipher(key, "CTR"), Value(key), Bytes(params.cb, params.cb + kBlock),
                                                  Encrypts(use), Padding::Stream, CounterSpace(params));
}

GcmParamsWithoutIvBits GcmParams(const CK_MECHANISM& mechanism) {
    if (mechanism.ulParameterLen == sizeof(GcmParamsWithoutIvBits))
        return Parameters::As<GcmParamsWithoutIvBits>(mechanism);
    const auto& params = Parameters::As<CK_GCM_PARAMS>(mechanism);
    return {params.pIv, params.ulIvLen, params.pAAD, params.ulAADLen, params.ulTagBits};
}

bool IsGcmTagBits(CK_ULONG bits) { return bits == 32 || bits == 64 || (bits >= 96 && bits <= 128 && bits % 8 == 0); }

std::unique_ptr<CipherOperation> Gcm(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    const GcmParamsWithoutIvBits params = GcmParams(mechanism);
    Require(params.ulIvLen >= 1 && params.ulIvLen <= 256 && IsGcmTagBits(params.ulTagBits),
            CKR_MECHANISM_PARAM_INVALID);
    Require(params.ulAADLen <= crypto::SymmetricCipher::kMaxInput, CKR_MECHANISM_PARAM_INVALID);
    return std::make_unique<AesGcmOperation>(Cipher(key, "GCM"), Value(key), Parameters::Pointed(params.pIv, params.ulIvLen),
                                             Parameters::Pointed(params.pAAD, params.ulAADLen), params.ulTagBits / 8,
                                             Encrypts(use));
}

std::unique_ptr<CipherOperation> KeyWrap(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    return std::make_unique<AesKeyWrapOperation>(Value(key), Parameters::BytesOfLength(mechanism, 0, 8), false,
                                                 Encrypts(use));
}

std::unique_ptr<CipherOperation> KeyWrapPad(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    return std::make_unique<AesKeyWrapOperation>(Value(key), Parameters::BytesOfLength(mechanism, 0, 4), true,
                                                 Encrypts(use));
}

std::unique_ptr<SignOperation> Cmac(const CK_MECHANISM& mechanism, Object& key, KeyUse) {
    Parameters::RequireNone(mechanism);
    return std::make_unique<CmacOperation>(Cipher(key, "CBC"), Value(key), 0);
}

std::unique_ptr<SignOperation> CmacGeneral(const CK_MECHANISM& mechanism, Object& key, KeyUse) {
    const CK_ULONG length = Parameters::As<CK_ULONG>(mechanism);
    Require(length >= 1 && length <= kBlock, CKR_MECHANISM_PARAM_INVALID);
    return std::make_unique<CmacOperation>(Cipher(key, "CBC"), Value(key), length);
}

// The key's length comes from the template's CKA_VALUE_LEN, which must be there.
Object Generate(const CK_MECHANISM& mechanism, Object::Map keyTemplate) {
    const auto length = keyTemplate.find(CKA_VALUE_LEN);
    Require(length != keyTemplate.end(), CKR_TEMPLATE_INCOMPLETE);
    const CK_ULONG valueLength = Object(Object::Map{*length}).Ulong(CKA_VALUE_LEN);
    Require(AesMechanismNames::IsKeyLength(valueLength), CKR_ATTRIBUTE_VALUE_INVALID);
    return SecretKeyValue::Generate(mechanism, std::move(keyTemplate), CKK_AES, valueLength, AesMechanismNames::Ecb,
                                    false);
}

constexpr CK_FLAGS kCipher = CKF_ENCRYPT | CKF_DECRYPT | CKF_WRAP | CKF_UNWRAP;
constexpr CK_FLAGS kMac = CKF_SIGN | CKF_VERIFY;

constexpr MechanismRow Row(CK_MECHANISM_TYPE type, MechanismRow::CipherFactory cipher) {
    return {type, {16, 32, kCipher}, KeyKind::Secret, CKK_AES, nullptr, cipher, nullptr, nullptr, nullptr, nullptr};
}

constexpr MechanismRow MacRow(CK_MECHANISM_TYPE type, MechanismRow::SignFactory sign) {
    return {type, {16, 32, kMac}, KeyKind::Secret, CKK_AES, sign, nullptr, nullptr, nullptr, nullptr, nullptr};
}

constexpr MechanismRow kRows[] = {
    {CKM_AES_KEY_GEN, {16, 32, CKF_GENERATE}, KeyKind::None, CKK_AES, nullptr, nullptr, nullptr, Generate, nullptr,
     nullptr},
    Row(CKM_AES_ECB, Ecb),
    Row(CKM_AES_CBC, Cbc),
    Row(CKM_AES_CBC_PAD, CbcPad),
    Row(CKM_AES_CTR, Ctr),
    Row(CKM_AES_GCM, Gcm),
    MacRow(CKM_AES_CMAC, Cmac),
    MacRow(CKM_AES_CMAC_GENERAL, CmacGeneral),
    Row(CKM_AES_KEY_WRAP, KeyWrap),
    Row(CKM_AES_KEY_WRAP_PAD, KeyWrapPad),
};

}  // namespace

MechanismRows AesMechanisms() { return RowsOf(kRows); }

}  // namespace softtoken
