#pragma once
// The GOST identifiers PKCS#11's own header lacks: the TC26 vendor values for GOST R 34.10-2012
// and GOST R 34.11-2012 (base CKK/CKM_VENDOR_DEFINED | 0x54321000, as the TC26 extension of
// PKCS#11 defines them; checked against the public vendor tables that carry them), and the
// token's own mechanism for GOST 28147-89 counter-mode encryption, which has no standard value.
#include <p11-kit/pkcs11.h>

namespace softtoken {

constexpr CK_ULONG kVendorTc26 = CKM_VENDOR_DEFINED | 0x54321000UL;  // 0xD4321000

constexpr CK_KEY_TYPE CKK_GOSTR3410_512 = kVendorTc26 | 0x003;
constexpr CK_MECHANISM_TYPE CKM_GOSTR3410_512_KEY_PAIR_GEN = kVendorTc26 | 0x005;
constexpr CK_MECHANISM_TYPE CKM_GOSTR3410_512 = kVendorTc26 | 0x006;
constexpr CK_MECHANISM_TYPE CKM_GOSTR3410_12_DERIVE = kVendorTc26 | 0x007;
constexpr CK_MECHANISM_TYPE CKM_GOSTR3410_WITH_GOSTR3411_12_256 = kVendorTc26 | 0x008;
constexpr CK_MECHANISM_TYPE CKM_GOSTR3410_WITH_GOSTR3411_12_512 = kVendorTc26 | 0x009;
constexpr CK_MECHANISM_TYPE CKM_GOSTR3411_12_256 = kVendorTc26 | 0x012;
constexpr CK_MECHANISM_TYPE CKM_GOSTR3411_12_512 = kVendorTc26 | 0x013;
constexpr CK_MECHANISM_TYPE CKM_GOSTR3411_12_256_HMAC = kVendorTc26 | 0x014;
constexpr CK_MECHANISM_TYPE CKM_GOSTR3411_12_512_HMAC = kVendorTc26 | 0x015;

// GOST 28147-89 "gamma" (counter) mode with CryptoPro key meshing; optional 8-byte IV.
constexpr CK_MECHANISM_TYPE CKM_NIMB_GOST28147_CNT = CKM_VENDOR_DEFINED | 0x4E494D01UL;

}  // namespace softtoken
