#include "GostDigest.h"

#include "GostEngine.h"
#include "OpenSsl.h"

#include <openssl/engine.h>

namespace crypto {

struct GostDigest::State {
    EvpMdCtxPtr ctx;
    bool finished = false;
};

namespace {

int NidOf(GostDigest::Algorithm algorithm) {
    switch (algorithm) {
    case GostDigest::Algorithm::R3411_2012_256: return NID_id_GostR3411_2012_256;
    case GostDigest::Algorithm::R3411_2012_512: return NID_id_GostR3411_2012_512;
    default: return NID_id_GostR3411_94;
    }
}

}  // namespace

GostDigest::GostDigest(Algorithm algorithm) : m_algorithm(algorithm), m_state(std::make_unique<State>()) {
    auto lock = GostEngine::Lock();
    ENGINE* engine = GostEngine::Get();
    const EVP_MD* md = ENGINE_get_digest(engine, NidOf(algorithm));
    m_state->ctx.reset(EVP_MD_CTX_new());
    if (md == nullptr || !m_state->ctx || EVP_DigestInit_ex(m_state->ctx.get(), md, engine) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "the GOST hash is not available");
}

GostDigest::~GostDigest() {
    auto lock = GostEngine::Lock();
    m_state.reset();
}

size_t GostDigest::Length(Algorithm algorithm) { return algorithm == Algorithm::R3411_2012_512 ? 64 : 32; }

size_t GostDigest::Length() const { return Length(m_algorithm); }

void GostDigest::Update(const unsigned char* data, size_t length) {
    if (m_state->finished) ThrowCrypto(CKR_FUNCTION_FAILED, "the GOST hash is finished");
    if (length == 0) return;
    auto lock = GostEngine::Lock();
    if (EVP_DigestUpdate(m_state->ctx.get(), data, length) != 1) ThrowCrypto(CKR_FUNCTION_FAILED, "GOST hash failed");
}

Bytes GostDigest::Final() {
    if (m_state->finished) ThrowCrypto(CKR_FUNCTION_FAILED, "the GOST hash is finished");
    m_state->finished = true;
    auto lock = GostEngine::Lock();
    Bytes out(Length());
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_state->ctx.get(), out.data(), &length) != 1 || length != out.size())
        ThrowCrypto(CKR_FUNCTION_FAILED, "GOST hash failed");
    return out;
}

Bytes GostDigest::Compute(Algorithm algorithm, const Bytes& data) {
    GostDigest digest(algorithm);
    digest.Update(data.data(), data.size());
    return digest.Final();
}

}  // namespace crypto
