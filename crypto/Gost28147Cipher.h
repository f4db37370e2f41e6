#pragma once
// GOST 28147-89 encryption through the engine, in parts, under the S-box a key's parameter
// set names: ECB (simple replacement), CFB (gamma with feedback, with CryptoPro key meshing
// every 1024 bytes, as the engine's "gost89") and CNT (gamma, the counter mode, with the same
// key meshing, as "gost89-cnt"). The engine has no ECB cipher: ECB runs on its CBC cipher
// (which never meshes), one block at a time with the chaining taken out again.
#include "Bytes.h"

#include <memory>

namespace crypto {

class Gost28147Cipher {
public:
    enum class Mode { Ecb, Cfb, Cnt };
    static constexpr size_t kBlockLength = 8;
    static constexpr size_t kIvLength = 8;

    // Empty paramsOidDer means CryptoPro-A; iv is 8 bytes for CFB and CNT (empty: zero), empty
    // for ECB. A key that is not 32 bytes: CKR_KEY_SIZE_RANGE; unknown parameter set:
    // CKR_ATTRIBUTE_VALUE_INVALID; a wrong IV: CKR_MECHANISM_PARAM_INVALID.
    Gost28147Cipher(Mode mode, const Bytes& key32, const Bytes& paramsOidDer, const Bytes& iv, bool encrypt);
    ~Gost28147Cipher();
    Gost28147Cipher(const Gost28147Cipher&) = delete;
    Gost28147Cipher& operator=(const Gost28147Cipher&) = delete;

    // The output for the input so far; ECB keeps a partial block for the next call.
    Bytes Update(const unsigned char* data, size_t length);
    // ECB with a partial block left: CKR_DATA_LEN_RANGE when encrypting,
    // CKR_ENCRYPTED_DATA_LEN_RANGE when decrypting. The stream modes give nothing more.
    Bytes Final();

private:
    struct State;
    Bytes EcbBlocks(const unsigned char* data, size_t length);
    Bytes Stream(const unsigned char* data, size_t length);

    Mode m_mode;
    bool m_encrypt;
    std::unique_ptr<State> m_state;
};

}  // namespace crypto
