// Feeds arbitrary bytes to the CMS signature check: the first byte chooses how much of the
// rest is the signature and how much the signed data.
#include "crypto/CmsSignature.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t dataLength = data[0] % 64;
    if (dataLength > size - 1) dataLength = size - 1;
    crypto::Bytes signedData(data + 1, data + 1 + dataLength);
    crypto::Bytes signature(data + 1 + dataLength, data + size);
    try {
        crypto::CmsSignature::Verify(signature, signedData);
    } catch (const crypto::CryptoError&) {
    }
    return 0;
}
