// Feeds arbitrary bytes to the PKCS#12 reader with the utility's password.
#include "crypto/Pkcs12.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    crypto::Bytes file(data, data + size);
    try {
        crypto::Pkcs12::Parse(file, {'3', '5', '7'});
    } catch (const crypto::CryptoError&) {
    }
    return 0;
}
