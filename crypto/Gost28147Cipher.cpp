#include "Gost28147Cipher.h"

#include "Gost28147.h"
#include "GostEngine.h"
#include "OpenSsl.h"
#include "Der.h"

#include <openssl/engine.h>

#include <algorithm>
#include <string>

namespace crypto {

using EvpCipherCtxPtr = OpenSslPtr<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;

struct Gost28147Cipher::State {
    EvpCipherCtxPtr ctx;
    Bytes pending;                                            // ECB: a block not yet complete
    Bytes previous = Bytes(Gost28147Cipher::kBlockLength, 0);  // ECB: the last CBC ciphertext block
};

namespace {

const char* EngineCipherName(Gost28147Cipher::Mode mode) {
    switch (mode) {
    case Gost28147Cipher::Mode::Ecb: return "gost89-cbc";
    case Gost28147Cipher::Mode::Cnt: return "gost89-cnt";
    default: return "gost89";
    }
}

std::string ParamSetText(const Bytes& paramsOidDer) {
    if (!Gost28147::IsKnownParamSet(paramsOidDer))
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "unknown GOST 28147-89 parameter set");
    return paramsOidDer.empty() ? Der::OidText(Gost28147::DefaultParamsOid()) : Der::OidText(paramsOidDer);
}

// The S-box goes in after the key: the counter mode's initialisation resets it to CryptoPro-A.
// Setting it keeps the mode's key meshing as it was.
void SetUp(EVP_CIPHER_CTX* ctx, Gost28147Cipher::Mode mode, const Bytes& key32, const std::string& paramSet,
           const Bytes& iv, bool encrypt) {
    ENGINE* engine = GostEngine::Get();
    const EVP_CIPHER* cipher = ENGINE_get_cipher(engine, OBJ_sn2nid(EngineCipherName(mode)));
    const Bytes zeroIv(Gost28147Cipher::kIvLength, 0);
    const Bytes& startIv = iv.empty() ? zeroIv : iv;
    if (cipher == nullptr || EVP_CipherInit_ex(ctx, cipher, engine, key32.data(), startIv.data(), encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_SET_SBOX, 0, const_cast<char*>(paramSet.c_str())) <= 0 ||
        EVP_CIPHER_CTX_set_padding(ctx, 0) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set up GOST 28147-89 encryption");
}

void XorInto(unsigned char* target, const unsigned char* with) {
    for (size_t i = 0; i < Gost28147Cipher::kBlockLength; ++i) target[i] ^= with[i];
}

}  // namespace

Gost28147Cipher::Gost28147Cipher(Mode mode, const Bytes& key32, const Bytes& paramsOidDer, const Bytes& iv,
                                 bool encrypt)
    : m_mode(mode), m_encrypt(encrypt), m_state(std::make_unique<State>()) {
    if (key32.size() != Gost28147::kKeyLength) ThrowCrypto(CKR_KEY_SIZE_RANGE, "a GOST 28147-89 key is 32 bytes");
    const bool ivFits = mode == Mode::Ecb ? iv.empty() : (iv.empty() || iv.size() == kIvLength);
    if (!ivFits) ThrowCrypto(CKR_MECHANISM_PARAM_INVALID, "wrong GOST 28147-89 IV");
    const std::string paramSet = ParamSetText(paramsOidDer);
    auto lock = GostEngine::Lock();
    m_state->ctx.reset(EVP_CIPHER_CTX_new());
    if (!m_state->ctx) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate a cipher context");
    SetUp(m_state->ctx.get(), mode, key32, paramSet, iv, encrypt);
    ERR_clear_error();
}

Gost28147Cipher::~Gost28147Cipher() {
    auto lock = GostEngine::Lock();
    OPENSSL_cleanse(m_state->pending.data(), m_state->pending.size());
    m_state.reset();
}

Bytes Gost28147Cipher::Update(const unsigned char* data, size_t length) {
    if (length > kMaxInputLength) ThrowCrypto(CKR_DATA_LEN_RANGE, "data too long");
    if (length == 0) return {};
    if (m_mode != Mode::Ecb) return Stream(data, length);
    Bytes& pending = m_state->pending;
    pending.insert(pending.end(), data, data + length);
    const size_t whole = pending.size() - pending.size() % kBlockLength;
    Bytes out = EcbBlocks(pending.data(), whole);
    OPENSSL_cleanse(pending.data(), whole);
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(whole));
    return out;
}

Bytes Gost28147Cipher::Final() {
    if (m_mode == Mode::Ecb && !m_state->pending.empty())
        ThrowCrypto(m_encrypt ? CKR_DATA_LEN_RANGE : CKR_ENCRYPTED_DATA_LEN_RANGE,
                    "GOST 28147-89 ECB takes whole 8-byte blocks");
    return {};
}

Bytes Gost28147Cipher::Stream(const unsigned char* data, size_t length) {
    auto lock = GostEngine::Lock();
    Bytes out(length);
    int written = 0;
    if (EVP_CipherUpdate(m_state->ctx.get(), out.data(), &written, data, static_cast<int>(length)) != 1 ||
        static_cast<size_t>(written) != length)
        ThrowCrypto(CKR_FUNCTION_FAILED, "GOST 28147-89 encryption failed");
    return out;
}

// CBC with a zero IV is ECB once each block's chaining is undone: encrypting, each block goes in
// XORed with the previous output; decrypting, each output is XORed with the previous input.
Bytes Gost28147Cipher::EcbBlocks(const unsigned char* data, size_t length) {
    auto lock = GostEngine::Lock();
    Bytes out(length);
    Bytes& previous = m_state->previous;
    for (size_t at = 0; at < length; at += kBlockLength) {
        unsigned char block[kBlockLength];
        std::copy(data + at, data + at + kBlockLength, block);
        if (m_encrypt) XorInto(block, previous.data());
        int written = 0;
        if (EVP_CipherUpdate(m_state->ctx.get(), out.data() + at, &written, block, kBlockLength) != 1 ||
            written != static_cast<int>(kBlockLength))
            ThrowCrypto(CKR_FUNCTION_FAILED, "GOST 28147-89 encryption failed");
        if (m_encrypt) {
            std::copy(out.begin() + at, out.begin() + at + kBlockLength, previous.begin());
        } else {
            XorInto(out.data() + at, previous.data());
            std::copy(data + at, data + at + kBlockLength, previous.begin());
        }
        OPENSSL_cleanse(block, sizeof block);
    }
    return out;
}

}  // namespace crypto
