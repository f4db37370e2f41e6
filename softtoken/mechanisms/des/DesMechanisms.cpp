// The DES family: single DES (8-byte keys) and three-key triple DES (24-byte keys), key
// generation with odd parity, ECB, CBC, CBC with padding, and triple DES CMAC.
#include "mechanisms/BlockCipherOperation.h"
#include "mechanisms/CmacOperation.h"
#include "mechanisms/MechanismParameters.h"
#include "mechanisms/MechanismTable.h"
#include "mechanisms/SecretKeyValue.h"
#include "mechanisms/des/DesMechanismNames.h"

namespace softtoken {
namespace {

using Padding = BlockCipherOperation::Padding;
using Parameters = MechanismParameters;
using Names = DesMechanismNames;

constexpr size_t kBlock = 8;

bool Encrypts(KeyUse use) { return use == KeyUse::Encrypt || use == KeyUse::Wrap; }

const Bytes& Value(const Object& key) {
    const Bytes& value = key.Get(CKA_VALUE);
    const size_t expected = key.KeyType() == CKK_DES ? Names::kDesKeyLength : Names::kDes3KeyLength;
    Require(value.size() == expected, CKR_KEY_SIZE_RANGE);
    return value;
}

std::unique_ptr<CipherOperation> Ecb(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    Parameters::RequireNone(mechanism);
    const Padding padding = use == KeyUse::Wrap ? Padding::ZeroFill : Padding::None;
    const Bytes& value = Value(key);
    return std::make_unique<BlockCipherOperation>(Names::Named(value.size(), "ECB"), value, Bytes(), Encrypts(use),
                                                  padding);
}

std::unique_ptr<CipherOperation> CbcWith(const CK_MECHANISM& mechanism, Object& key, KeyUse use, Padding padding) {
    const Bytes& value = Value(key);
    return std::make_unique<BlockCipherOperation>(Names::Named(value.size(), "CBC"), value,
                                                  Parameters::Iv(mechanism, kBlock), Encrypts(use), padding);
}

std::unique_ptr<CipherOperation> Cbc(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    return CbcWith(mechanism, key, use, use == KeyUse::Wrap ? Padding::ZeroFill : Padding::None);
}

std::unique_ptr<CipherOperation> CbcPad(const CK_MECHANISM& mechanism, Object& key, KeyUse use) {
    return CbcWith(mechanism, key, use, Padding::Pkcs7);
}

std::unique_ptr<SignOperation> Cmac(const CK_MECHANISM& mechanism, Object& key, KeyUse) {
    Parameters::RequireNone(mechanism);
    return std::make_unique<CmacOperation>(Names::Named(Names::kDes3KeyLength, "CBC"), Value(key), 0);
}

std::unique_ptr<SignOperation> CmacGeneral(const CK_MECHANISM& mechanism, Object& key, KeyUse) {
    const CK_ULONG length = Parameters::As<CK_ULONG>(mechanism);
    Require(length >= 1 && length <= kBlock, CKR_MECHANISM_PARAM_INVALID);
    return std::make_unique<CmacOperation>(Names::Named(Names::kDes3KeyLength, "CBC"), Value(key), length);
}

Object GenerateDes(const CK_MECHANISM& mechanism, Object::Map keyTemplate) {
    return SecretKeyValue::Generate(mechanism, std::move(keyTemplate), CKK_DES, Names::kDesKeyLength, Names::DesEcb,
                                    true);
}

Object GenerateDes3(const CK_MECHANISM& mechanism, Object::Map keyTemplate) {
    return SecretKeyValue::Generate(mechanism, std::move(keyTemplate), CKK_DES3, Names::kDes3KeyLength,
                                    Names::Des3Ecb, true);
}

constexpr CK_FLAGS kCipher = CKF_ENCRYPT | CKF_DECRYPT | CKF_WRAP | CKF_UNWRAP;
constexpr CK_FLAGS kMac = CKF_SIGN | CKF_VERIFY;

constexpr MechanismRow Row(CK_MECHANISM_TYPE type, CK_KEY_TYPE keyType, MechanismRow::CipherFactory cipher) {
    const CK_ULONG size = keyType == CKK_DES ? Names::kDesKeyLength : Names::kDes3KeyLength;
    return {type, {size, size, kCipher}, KeyKind::Secret, keyType, nullptr, cipher, nullptr, nullptr, nullptr, nullptr};
}

constexpr MechanismRow MacRow(CK_MECHANISM_TYPE type, MechanismRow::SignFactory sign) {
    return {type, {24, 24, kMac}, KeyKind::Secret, CKK_DES3, sign, nullptr, nullptr, nullptr, nullptr, nullptr};
}

constexpr MechanismRow GeneratorRow(CK_MECHANISM_TYPE type, CK_KEY_TYPE keyType, MechanismRow::KeyGenerator generate) {
    const CK_ULONG size = keyType == CKK_DES ? Names::kDesKeyLength : Names::kDes3KeyLength;
    return {type, {size, size, CKF_GENERATE}, KeyKind::None, keyType, nullptr, nullptr, nullptr, generate, nullptr,
            nullptr};
}

constexpr MechanismRow kRows[] = {
    GeneratorRow(CKM_DES_KEY_GEN, CKK_DES, GenerateDes),
    Row(CKM_DES_ECB, CKK_DES, Ecb),
    Row(CKM_DES_CBC, CKK_DES, Cbc),
    Row(CKM_DES_CBC_PAD, CKK_DES, CbcPad),
    GeneratorRow(CKM_DES3_KEY_GEN, CKK_DES3, GenerateDes3),
    Row(CKM_DES3_ECB, CKK_DES3, Ecb),
    Row(CKM_DES3_CBC, CKK_DES3, Cbc),
    Row(CKM_DES3_CBC_PAD, CKK_DES3, CbcPad),
    MacRow(CKM_DES3_CMAC, Cmac),
    MacRow(CKM_DES3_CMAC_GENERAL, CmacGeneral),
};

}  // namespace

MechanismRows DesMechanisms() { return RowsOf(kRows); }

}  // namespace softtoken
