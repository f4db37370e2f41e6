#include "Gost28147.h"

#include "Der.h"
#include "GostEngine.h"
#include "OpenSsl.h"

#include <openssl/engine.h>

#include <algorithm>
#include <array>
#include <string>

namespace crypto {
namespace {

const char* const kDefaultParamSet = "1.2.643.2.2.31.1";

// RFC 4357 S-box parameter sets: test, CryptoPro A, B, C, D.
const std::array<const char*, 5> kParamSets = {"1.2.643.2.2.31.0", "1.2.643.2.2.31.1",
                                               "1.2.643.2.2.31.2", "1.2.643.2.2.31.3",
                                               "1.2.643.2.2.31.4"};

std::string ParamSetText(const Bytes& paramsOidDer) {
    if (paramsOidDer.empty()) return kDefaultParamSet;
    std::string text = Der::OidText(paramsOidDer);
    if (std::find(kParamSets.begin(), kParamSets.end(), text) == kParamSets.end())
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "unknown GOST 28147-89 parameter set");
    return text;
}

// The engine takes the S-box only on a key-generation context, so the MAC key is "generated"
// there from the given value with the parameter set attached.
EvpPkeyPtr MacKey(ENGINE* engine, const Bytes& key32, const std::string& paramSet) {
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_id(NID_id_Gost28147_89_MAC, engine));
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_ctrl_str(ctx.get(), "paramset", paramSet.c_str()) <= 0 ||
        EVP_PKEY_CTX_ctrl(ctx.get(), -1, EVP_PKEY_OP_KEYGEN, EVP_PKEY_CTRL_SET_MAC_KEY,
                          static_cast<int>(key32.size()), const_cast<unsigned char*>(key32.data())) <= 0)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set up the GOST 28147-89 MAC key");
    EVP_PKEY* raw = nullptr;
    if (EVP_PKEY_keygen(ctx.get(), &raw) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot make the GOST 28147-89 MAC key");
    return EvpPkeyPtr(raw);
}

}  // namespace

Bytes Gost28147::DefaultParamsOid() { return Der::OidDer(kDefaultParamSet); }

bool Gost28147::IsKnownParamSet(const Bytes& paramsOidDer) {
    try {
        ParamSetText(paramsOidDer);
        return true;
    } catch (const CryptoError&) {
        return false;
    }
}

bool Gost28147::IsUsableIv(const Bytes& iv) {
    return iv.empty() || (iv.size() == 8 && std::all_of(iv.begin(), iv.end(), [](unsigned char b) { return b == 0; }));
}

Bytes Gost28147::Mac(const Bytes& key32, const Bytes& paramsOidDer, const Bytes& iv, const Bytes& data) {
    if (key32.size() != kKeyLength) ThrowCrypto(CKR_KEY_SIZE_RANGE, "a GOST 28147-89 key is 32 bytes");
    if (!IsUsableIv(iv))
        ThrowCrypto(CKR_MECHANISM_PARAM_INVALID, "only a zero IV is supported for GOST 28147-89 MAC");
    if (data.size() > kMaxInputLength) ThrowCrypto(CKR_DATA_LEN_RANGE, "data too long");
    std::string paramSet = ParamSetText(paramsOidDer);

    auto lock = GostEngine::Lock();
    ENGINE* engine = GostEngine::Get();
    EvpPkeyPtr key = MacKey(engine, key32, paramSet);
    const EVP_MD* md = ENGINE_get_digest(engine, NID_id_Gost28147_89_MAC);
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    size_t length = kMacLength;
    Bytes mac(length);
    if (md == nullptr || !ctx || EVP_DigestSignInit(ctx.get(), nullptr, md, engine, key.get()) != 1 ||
        (!data.empty() && EVP_DigestSignUpdate(ctx.get(), data.data(), data.size()) != 1) ||
        EVP_DigestSignFinal(ctx.get(), mac.data(), &length) != 1 || length != kMacLength)
        ThrowCrypto(CKR_FUNCTION_FAILED, "GOST 28147-89 MAC failed");
    ERR_clear_error();
    return mac;
}

}  // namespace crypto
