#include "EcPoint.h"

#include "Der.h"
#include "OpenSsl.h"

namespace crypto {
namespace {

constexpr unsigned char kUncompressed = 0x04;

bool IsRawPoint(const EcCurve& curve, const unsigned char* point, size_t length) {
    if (length != EcPoint::RawLength(curve)) return false;
    return curve.edwards || point[0] == kUncompressed;
}

}  // namespace

size_t EcPoint::RawLength(const EcCurve& curve) { return curve.edwards ? curve.fieldBytes : 1 + 2 * curve.fieldBytes; }

Bytes EcPoint::Decode(const EcCurve& curve, const Bytes& value) {
    if (IsRawPoint(curve, value.data(), value.size())) return value;
    // DER: tag, then a short length or 0x81 and one length byte of at least 0x80.
    size_t header = 2;
    size_t length = value.size() >= 2 ? value[1] : 0;
    if (value.size() >= 3 && value[1] == 0x81 && value[2] >= 0x80) {
        header = 3;
        length = value[2];
    } else if (length >= 0x80) {
        length = 0;
    }
    if (value.size() < 2 || value[0] != Der::kOctetString || value.size() != header + length ||
        !IsRawPoint(curve, value.data() + header, length))
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "malformed EC point");
    return Bytes(value.begin() + static_cast<std::ptrdiff_t>(header), value.end());
}

Bytes EcPoint::Encode(const Bytes& rawPoint) { return Der::Tlv(Der::kOctetString, rawPoint); }

}  // namespace crypto
