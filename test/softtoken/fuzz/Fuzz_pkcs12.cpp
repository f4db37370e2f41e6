// Feeds arbitrary bytes to the PKCS#12 reader with the utility's password.
#include "crypto/Pkcs12.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    softtoken::crypto::Bytes file(data, data + size);
    try {
        softtoken::crypto::Pkcs12::Parse(file, {'3', '5', '7'});
    } catch (const softtoken::crypto::CryptoError&) {
    }
    return 0;
}
