#include "EcParams.h"

#include "Der.h"
#include "OpenSsl.h"

#include <cstring>
#include <iterator>
#include <string>

namespace crypto {
namespace {

struct KnownCurve {
    EcCurve curve;
    const char* names[3];  // the names a PrintableString may give
};

const KnownCurve kCurves[] = {
    {{"prime256v1", "1.2.840.10045.3.1.7", 32, 256, false}, {"prime256v1", "secp256r1", "P-256"}},
    {{"secp384r1", "1.3.132.0.34", 48, 384, false}, {"secp384r1", "P-384", nullptr}},
    {{"secp521r1", "1.3.132.0.35", 66, 521, false}, {"secp521r1", "P-521", nullptr}},
    {{"ED25519", "1.3.101.112", 32, 255, true}, {"edwards25519", "Ed25519", nullptr}},
};

constexpr unsigned char kPrintableString = 0x13;
constexpr unsigned char kNull = 0x05;

[[noreturn]] void Unsupported() { ThrowCrypto(CKR_CURVE_NOT_SUPPORTED, "curve not supported"); }
[[noreturn]] void Malformed() { ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "malformed EC parameters"); }

const EcCurve& ByOid(const Bytes& params) {
    const std::string oid = Der::OidText(params);
    if (oid.empty()) Malformed();
    for (const KnownCurve& known : kCurves)
        if (oid == known.curve.oidText) return known.curve;
    Unsupported();
}

const EcCurve& ByName(const Bytes& params) {
    // Curve names are short: one length byte, and exactly the bytes it counts.
    if (params.size() < 2 || params[1] >= 0x80 || params.size() != 2u + params[1]) Malformed();
    const std::string name(params.begin() + 2, params.end());
    for (const KnownCurve& known : kCurves)
        for (const char* alias : known.names)
            if (alias != nullptr && name == alias) return known.curve;
    Unsupported();
}

}  // namespace

const EcCurve& EcParams::Parse(const Bytes& params) {
    if (params.empty()) Malformed();
    switch (params[0]) {
    case Der::kOid: return ByOid(params);
    case kPrintableString: return ByName(params);
    case Der::kSequence:  // explicit parameters
    case kNull:           // implicitly CA
        Unsupported();
    default: Malformed();
    }
}

const EcCurve& EcParams::ByGroupName(const char* groupName) {
    for (const KnownCurve& known : kCurves)
        if (std::strcmp(groupName, known.curve.groupName) == 0) return known.curve;
    Unsupported();
}

Bytes EcParams::OidDer(const EcCurve& curve) { return Der::OidDer(curve.oidText); }

}  // namespace crypto
