#include "objects/Object.h"

#include "store/StoreCipher.h"

#include <cstring>

namespace softtoken {
namespace {

void PutWord(Bytes& out, uint64_t value) {
    for (int i = 7; i >= 0; --i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

uint64_t TakeWord(const Bytes& in, size_t& pos) {
    Require(pos <= in.size() && in.size() - pos >= 8, CKR_DEVICE_ERROR);
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = (value << 8) | in[pos++];
    return value;
}

}  // namespace

Object::~Object() {
    for (auto& [type, value] : m_attributes) StoreCipher::Wipe(value);
    StoreCipher::Wipe(sealed);
}

const Bytes& Object::Get(CK_ATTRIBUTE_TYPE type) const {
    static const Bytes empty;
    auto it = m_attributes.find(type);
    return it == m_attributes.end() ? empty : it->second;
}

CK_ULONG Object::Ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG fallback) const {
    auto it = m_attributes.find(type);
    if (it == m_attributes.end() || it->second.size() != sizeof(CK_ULONG)) return fallback;
    CK_ULONG value = 0;
    std::memcpy(&value, it->second.data(), sizeof value);
    return value;
}

bool Object::Bool(CK_ATTRIBUTE_TYPE type, bool fallback) const {
    auto it = m_attributes.find(type);
    if (it == m_attributes.end() || it->second.size() != 1) return fallback;
    return it->second[0] != CK_FALSE;
}

void Object::SetUlong(CK_ATTRIBUTE_TYPE type, CK_ULONG value) {
    Bytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    m_attributes[type] = std::move(bytes);
}

void Object::SetBool(CK_ATTRIBUTE_TYPE type, bool value) { m_attributes[type] = Bytes{static_cast<unsigned char>(value ? CK_TRUE : CK_FALSE)}; }

Bytes Object::Encode(const Map& attributes) {
    Bytes out;
    for (const auto& [type, value] : attributes) {
        PutWord(out, type);
        PutWord(out, value.size());
        out.insert(out.end(), value.begin(), value.end());
    }
    return out;
}

Object::Map Object::Decode(const Bytes& encoded) {
    Map attributes;
    size_t pos = 0;
    while (pos < encoded.size()) {
        const CK_ATTRIBUTE_TYPE type = TakeWord(encoded, pos);
        const uint64_t size = TakeWord(encoded, pos);
        Require(size <= encoded.size() - pos, CKR_DEVICE_ERROR);
        attributes[type] = Bytes(encoded.begin() + pos, encoded.begin() + pos + size);
        pos += size;
    }
    return attributes;
}

}  // namespace softtoken
