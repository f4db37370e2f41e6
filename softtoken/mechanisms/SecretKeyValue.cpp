#include "mechanisms/SecretKeyValue.h"

#include "mechanisms/MechanismParameters.h"
#include "objects/KeyFactory.h"
#include "store/StoreCipher.h"

#include "crypto/SymmetricCipher.h"

namespace softtoken {
namespace {

constexpr size_t kCheckValueLength = 3;

Bytes CheckValue(const Bytes& value, const std::string& ecbName) {
    return MechanismParameters::Crypto([&] {
        crypto::SymmetricCipher cipher(ecbName, value, {}, true, false);
        const Bytes zeros(cipher.BlockSize(), 0);
        Bytes block = cipher.Update(zeros.data(), zeros.size());
        block.resize(kCheckValueLength);
        return block;
    });
}

// Each byte of a DES key gets odd parity in its lowest bit.
void SetOddParity(Bytes& value) {
    for (unsigned char& byte : value) {
        unsigned ones = 0;
        for (int bit = 1; bit < 8; ++bit) ones += (byte >> bit) & 1u;
        byte = static_cast<unsigned char>((byte & 0xFE) | ((ones + 1) & 1u));
    }
}

}  // namespace

void SecretKeyValue::Check(Object& key, EcbName ecbName) {
    if (!key.Has(CKA_VALUE)) return;
    const Bytes& value = key.Get(CKA_VALUE);
    const std::string name = ecbName(value.size());
    Require(!name.empty(), CKR_ATTRIBUTE_VALUE_INVALID);
    if (key.Has(CKA_VALUE_LEN)) Require(key.Ulong(CKA_VALUE_LEN) == value.size(), CKR_ATTRIBUTE_VALUE_INVALID);
    key.SetUlong(CKA_VALUE_LEN, static_cast<CK_ULONG>(value.size()));
    const Bytes checkValue = CheckValue(value, name);
    if (key.Has(CKA_CHECK_VALUE) && !key.Get(CKA_CHECK_VALUE).empty())
        Require(key.Get(CKA_CHECK_VALUE) == checkValue, CKR_ATTRIBUTE_VALUE_INVALID);
    key.Set(CKA_CHECK_VALUE, checkValue);
}

Object SecretKeyValue::Generate(const CK_MECHANISM& mechanism, Object::Map keyTemplate, CK_KEY_TYPE keyType,
                                size_t length, EcbName ecbName, bool desParity) {
    MechanismParameters::RequireNone(mechanism);
    Object key = KeyFactory::Typed(std::move(keyTemplate), CKO_SECRET_KEY, keyType);
    if (key.Has(CKA_VALUE_LEN)) Require(key.Ulong(CKA_VALUE_LEN) == length, CKR_ATTRIBUTE_VALUE_INVALID);
    Require(!key.Has(CKA_CHECK_VALUE), CKR_ATTRIBUTE_READ_ONLY);
    Bytes value = StoreCipher::Random(length);
    if (desParity) SetOddParity(value);
    key.Set(CKA_VALUE, value);
    StoreCipher::Wipe(value);
    Check(key, ecbName);
    KeyFactory::MarkGenerated(key, mechanism.mechanism);
    return key;
}

}  // namespace softtoken
