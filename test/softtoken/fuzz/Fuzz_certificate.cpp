// Feeds arbitrary bytes to the certificate parser: it must answer or throw a CryptoError.
#include "crypto/Certificate.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    crypto::Bytes der(data, data + size);
    try {
        crypto::Certificate::Parse(der);
    } catch (const crypto::CryptoError&) {
    }
    return 0;
}
