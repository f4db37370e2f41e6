#pragma once
// The little DER the crypto layer writes and reads by hand: key containers for the GOST engine
// and the parameter OIDs PKCS#11 attributes hold.
#include "Bytes.h"

#include <cstddef>
#include <string>

namespace crypto {

class Der {
public:
    static constexpr unsigned char kInteger = 0x02;
    static constexpr unsigned char kBitString = 0x03;
    static constexpr unsigned char kOctetString = 0x04;
    static constexpr unsigned char kOid = 0x06;
    static constexpr unsigned char kSequence = 0x30;

    // One element: tag, definite length, content.
    static Bytes Tlv(unsigned char tag, const Bytes& content);
    static Bytes Concat(std::initializer_list<Bytes> parts);

    // Dotted text of a DER OID ("1.2.643.2.2.35.1"); empty when der is not exactly one OID.
    static std::string OidText(const Bytes& der);
    // DER of a dotted OID; empty when the text is not an OID.
    static Bytes OidDer(const std::string& text);
};

}  // namespace crypto
