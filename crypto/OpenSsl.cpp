#include "OpenSsl.h"

#include <openssl/err.h>

namespace crypto {

void ThrowCrypto(CK_RV rv, const std::string& what) {
    ERR_clear_error();
    throw CryptoError(rv, what);
}

BioPtr MemoryBio(const Bytes& data) {
    static const unsigned char kEmpty = 0;
    BioPtr bio(BIO_new_mem_buf(data.empty() ? &kEmpty : data.data(), static_cast<int>(data.size())));
    if (!bio) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate a memory BIO");
    return bio;
}

Bytes BioContents(BIO* bio) {
    BUF_MEM* memory = nullptr;
    BIO_get_mem_ptr(bio, &memory);
    if (memory == nullptr) return {};
    return Bytes(memory->data, memory->data + memory->length);
}

Bytes BignumToBytes(const BIGNUM* bn) {
    Bytes out(static_cast<size_t>(BN_num_bytes(bn)));
    if (!out.empty()) BN_bn2bin(bn, out.data());
    return out;
}

BignumPtr BytesToBignum(const Bytes& bytes) {
    BignumPtr bn(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
    if (!bn) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate a big number");
    return bn;
}

}  // namespace crypto
