#include "Rsa.h"

#include "GostEngine.h"
#include "OpenSsl.h"
#include "RsaEngine.h"
#include "MessageDigest.h"
#include "RsaHash.h"
#include "RsaKeys.h"

#include <openssl/crypto.h>
#include <openssl/rsa.h>

#include <climits>

namespace crypto {
namespace {

constexpr size_t kPkcs1Overhead = 11;

Bytes StripLeadingZeros(const Bytes& value) {
    size_t first = 0;
    while (first < value.size() && value[first] == 0) ++first;
    return Bytes(value.begin() + static_cast<std::ptrdiff_t>(first), value.end());
}

// Contexts and digests name the private RSA engine: no host registration can take them over.
EvpPkeyCtxPtr PkcsContext(evp_pkey_st* key) {
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, RsaEngine::Get()));
    if (!ctx) ThrowCrypto(CKR_HOST_MEMORY, "cannot allocate an RSA context");
    return ctx;
}

// Clears a buffer that held secret bytes when it goes out of scope.
struct Cleansed {
    Bytes& bytes;
    ~Cleansed() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

// The private engine's digest, so that the scheme's hashing never goes to a host's engine.
const EVP_MD* Md(CK_MECHANISM_TYPE hash) {
    const char* name = RsaHash::Name(hash);
    if (name == nullptr) ThrowCrypto(CKR_MECHANISM_PARAM_INVALID, "no such hash for RSA");
    return MessageDigest::Find(name).md;
}

RsaPadding Sha256Pkcs1() {
    RsaPadding padding;
    padding.hash = CKM_SHA256;
    return padding;
}

Bytes LeftPadded(const Bytes& data, size_t k) {
    Bytes padded(k - data.size(), 0);
    padded.insert(padded.end(), data.begin(), data.end());
    return padded;
}

// The bytes EVP_PKEY_sign takes, after the length checks of the scheme.
Bytes SignatureInput(const RsaPadding& padding, const Bytes& input, size_t k) {
    if (padding.scheme == RsaPadding::Scheme::Raw) {
        if (input.size() > k) ThrowCrypto(CKR_DATA_LEN_RANGE, "data longer than the RSA modulus");
        return LeftPadded(input, k);
    }
    if (padding.hash == 0) {
        if (input.size() + kPkcs1Overhead > k) ThrowCrypto(CKR_DATA_LEN_RANGE, "data too long for the RSA key");
    } else if (input.size() != RsaHash::Length(padding.hash)) {
        ThrowCrypto(CKR_DATA_LEN_RANGE, "input is not a digest of the hash");
    }
    return input;
}

size_t MaxPlaintext(const RsaPadding& padding, size_t k) {
    const size_t overhead = padding.scheme == RsaPadding::Scheme::Raw    ? 0
                            : padding.scheme == RsaPadding::Scheme::Oaep ? 2 * RsaHash::Length(padding.hash) + 2
                                                                         : kPkcs1Overhead;
    return overhead > k ? 0 : k - overhead;
}

// The OAEP label, handed over in memory OpenSSL allocated, as it frees it.
bool SetLabel(EVP_PKEY_CTX* ctx, const Bytes& label) {
    if (label.empty()) return true;
    auto* copy = static_cast<unsigned char*>(OPENSSL_memdup(label.data(), label.size()));
    if (copy == nullptr) return false;
    if (EVP_PKEY_CTX_set0_rsa_oaep_label(ctx, copy, static_cast<int>(label.size())) == 1) return true;
    OPENSSL_free(copy);
    return false;
}

// Sets the scheme and its hashes on a context initialised for its operation.
bool Configure(EVP_PKEY_CTX* ctx, const RsaPadding& padding) {
    using Scheme = RsaPadding::Scheme;
    switch (padding.scheme) {
    case Scheme::Pkcs1:
        return EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
               (padding.hash == 0 || EVP_PKEY_CTX_set_signature_md(ctx, Md(padding.hash)) == 1);
    case Scheme::Pss:
        return EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PSS_PADDING) == 1 &&
               EVP_PKEY_CTX_set_signature_md(ctx, Md(padding.hash)) == 1 &&
               EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, Md(padding.mgfHash)) == 1 &&
               padding.saltLength <= INT_MAX &&
               EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, static_cast<int>(padding.saltLength)) == 1;
    case Scheme::Oaep:
        return EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) == 1 &&
               EVP_PKEY_CTX_set_rsa_oaep_md(ctx, Md(padding.hash)) == 1 &&
               EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, Md(padding.mgfHash)) == 1 && padding.label.size() <= INT_MAX &&
               SetLabel(ctx, padding.label);
    case Scheme::Raw:
        return EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) == 1;
    }
    return false;
}

}  // namespace

RsaKeyComponents Rsa::Generate(CK_ULONG modulusBits, const Bytes& publicExponent) {
    if (modulusBits < kMinModulusBits || modulusBits > kMaxModulusBits)
        ThrowCrypto(CKR_KEY_SIZE_RANGE, "RSA modulus size out of range");
    Bytes exponent = StripLeadingZeros(publicExponent);
    if (publicExponent.empty()) exponent = {0x01, 0x00, 0x01};
    // An even exponent or one below 3 gives no usable key; more than 8 bytes is refused too.
    if (exponent.empty() || exponent.size() > 8 || (exponent.back() & 1) == 0 ||
        (exponent.size() == 1 && exponent[0] < 3))
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "unusable RSA public exponent");

    auto lock = GostEngine::Lock();
    EvpPkeyPtr key = RsaKeys::Generate(static_cast<int>(modulusBits), exponent);
    return RsaKeys::Export(key.get(), true);
}

Rsa::PrivateKey Rsa::LoadPrivate(const RsaKeyComponents& components) {
    auto lock = GostEngine::Lock();
    return PrivateKey(RsaKeys::LoadPrivate(components).release());
}

Rsa::PublicKey Rsa::LoadPublic(const Bytes& modulus, const Bytes& publicExponent) {
    auto lock = GostEngine::Lock();
    return PublicKey(RsaKeys::LoadPublic(modulus, publicExponent).release());
}

size_t Rsa::SignatureLength(const PrivateKey& key) { return static_cast<size_t>(EVP_PKEY_get_size(key.Get())); }

size_t Rsa::SignatureLength(const PublicKey& key) { return static_cast<size_t>(EVP_PKEY_get_size(key.Get())); }

Bytes Rsa::SignPkcs1Raw(const PrivateKey& key, const Bytes& data) { return Sign(key, RsaPadding{}, data); }

CK_RV Rsa::VerifyPkcs1Raw(const PublicKey& key, const Bytes& data, const Bytes& signature) {
    return Verify(key, RsaPadding{}, data, signature);
}

Bytes Rsa::SignSha256Pkcs1(const PrivateKey& key, const Bytes& data) {
    return Sign(key, Sha256Pkcs1(), RsaHash::Of(CKM_SHA256, data));
}

CK_RV Rsa::VerifySha256Pkcs1(const PublicKey& key, const Bytes& data, const Bytes& signature) {
    if (signature.size() != SignatureLength(key)) return CKR_SIGNATURE_LEN_RANGE;
    return Verify(key, Sha256Pkcs1(), RsaHash::Of(CKM_SHA256, data), signature);
}

size_t Rsa::ModulusBits(const PrivateKey& key) { return static_cast<size_t>(EVP_PKEY_get_bits(key.Get())); }

size_t Rsa::ModulusBits(const PublicKey& key) { return static_cast<size_t>(EVP_PKEY_get_bits(key.Get())); }

Bytes Rsa::Sign(const PrivateKey& key, const RsaPadding& padding, const Bytes& input) {
    const size_t k = SignatureLength(key);
    const Bytes tbs = SignatureInput(padding, input, k);
    auto lock = GostEngine::Lock();
    EvpPkeyCtxPtr ctx = PkcsContext(key.Get());
    if (EVP_PKEY_sign_init(ctx.get()) != 1 || !Configure(ctx.get(), padding))
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set up RSA signing");
    Bytes signature(k);
    size_t length = k;
    if (EVP_PKEY_sign(ctx.get(), signature.data(), &length, tbs.data(), tbs.size()) != 1 || length != k)
        ThrowCrypto(padding.scheme == RsaPadding::Scheme::Raw ? CKR_DATA_INVALID : CKR_FUNCTION_FAILED,
                    "RSA signing failed");
    return signature;
}

CK_RV Rsa::Verify(const PublicKey& key, const RsaPadding& padding, const Bytes& input, const Bytes& signature) {
    const size_t k = SignatureLength(key);
    if (signature.size() != k) return CKR_SIGNATURE_LEN_RANGE;
    const bool recovers = padding.scheme == RsaPadding::Scheme::Raw || padding.hash == 0;
    if (!recovers) {
        if (input.size() != RsaHash::Length(padding.hash)) return CKR_DATA_LEN_RANGE;
    } else if (input.size() > k) {
        return padding.scheme == RsaPadding::Scheme::Raw ? CKR_DATA_LEN_RANGE : CKR_SIGNATURE_INVALID;
    }
    auto lock = GostEngine::Lock();
    EvpPkeyCtxPtr ctx = PkcsContext(key.Get());
    if ((recovers ? EVP_PKEY_verify_recover_init(ctx.get()) : EVP_PKEY_verify_init(ctx.get())) != 1 ||
        !Configure(ctx.get(), padding))
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set up RSA verification");
    int result = 0;
    if (recovers) {
        // The value under the signature, compared with the input (left-padded when raw).
        const Bytes expected = padding.scheme == RsaPadding::Scheme::Raw ? LeftPadded(input, k) : input;
        Bytes recovered(k);
        size_t length = k;
        result = EVP_PKEY_verify_recover(ctx.get(), recovered.data(), &length, signature.data(), signature.size());
        result = result == 1 && length == expected.size() &&
                 CRYPTO_memcmp(recovered.data(), expected.data(), length) == 0;
    } else {
        result = EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), input.data(), input.size());
    }
    ERR_clear_error();
    return result == 1 ? CKR_OK : CKR_SIGNATURE_INVALID;
}

Bytes Rsa::Encrypt(const PublicKey& key, const RsaPadding& padding, const Bytes& data) {
    const size_t k = SignatureLength(key);
    if (data.size() > MaxPlaintext(padding, k)) ThrowCrypto(CKR_DATA_LEN_RANGE, "data too long for the RSA key");
    const bool raw = padding.scheme == RsaPadding::Scheme::Raw;
    Bytes padded = raw ? LeftPadded(data, k) : Bytes();
    Cleansed wipe{padded};
    const Bytes& input = raw ? padded : data;
    auto lock = GostEngine::Lock();
    EvpPkeyCtxPtr ctx = PkcsContext(key.Get());
    if (EVP_PKEY_encrypt_init(ctx.get()) != 1 || !Configure(ctx.get(), padding))
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set up RSA encryption");
    Bytes encrypted(k);
    size_t length = k;
    if (EVP_PKEY_encrypt(ctx.get(), encrypted.data(), &length, input.data(), input.size()) != 1 || length != k)
        ThrowCrypto(raw ? CKR_DATA_INVALID : CKR_FUNCTION_FAILED, "RSA encryption failed");
    return encrypted;
}

Bytes Rsa::Decrypt(const PrivateKey& key, const RsaPadding& padding, const Bytes& encrypted) {
    const size_t k = SignatureLength(key);
    if (encrypted.size() != k) ThrowCrypto(CKR_ENCRYPTED_DATA_LEN_RANGE, "not one RSA block");
    auto lock = GostEngine::Lock();
    EvpPkeyCtxPtr ctx = PkcsContext(key.Get());
    if (EVP_PKEY_decrypt_init(ctx.get()) != 1 || !Configure(ctx.get(), padding))
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set up RSA decryption");
#ifdef RSA_PKCS1_NO_IMPLICIT_REJECT_PADDING
    // A padding error is answered as an error, never with random data.
    if (padding.scheme == RsaPadding::Scheme::Pkcs1 &&
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_NO_IMPLICIT_REJECT_PADDING) != 1)
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot set up RSA decryption");
#endif
    Bytes data(k);
    size_t length = k;
    const int result = EVP_PKEY_decrypt(ctx.get(), data.data(), &length, encrypted.data(), encrypted.size());
    if (result != 1 || length > k) {
        OPENSSL_cleanse(data.data(), data.size());
        ThrowCrypto(CKR_ENCRYPTED_DATA_INVALID, "RSA decryption failed");
    }
    OPENSSL_cleanse(data.data() + length, k - length);
    data.resize(length);
    return data;
}

Bytes Rsa::ToPkcs8(const RsaKeyComponents& c) {
    for (const Bytes* part : {&c.prime1, &c.prime2, &c.exponent1, &c.exponent2, &c.coefficient})
        if (part->empty()) ThrowCrypto(CKR_KEY_NOT_WRAPPABLE, "the RSA key lacks its CRT values");
    auto lock = GostEngine::Lock();
    EvpPkeyPtr key = RsaKeys::LoadPrivate(c);
    Pkcs8Ptr info(EVP_PKEY2PKCS8(key.get()));
    const int length = info ? i2d_PKCS8_PRIV_KEY_INFO(info.get(), nullptr) : 0;
    if (length <= 0) ThrowCrypto(CKR_FUNCTION_FAILED, "cannot encode the RSA key");
    Bytes der(static_cast<size_t>(length));
    unsigned char* out = der.data();
    if (i2d_PKCS8_PRIV_KEY_INFO(info.get(), &out) != length) {
        OPENSSL_cleanse(der.data(), der.size());
        ThrowCrypto(CKR_FUNCTION_FAILED, "cannot encode the RSA key");
    }
    return der;
}

RsaKeyComponents Rsa::FromPkcs8(const Bytes& der) {
    if (der.empty() || der.size() > kMaxInputLength) ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "no PKCS#8 key");
    auto lock = GostEngine::Lock();
    const unsigned char* in = der.data();
    Pkcs8Ptr info(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &in, static_cast<long>(der.size())));
    if (!info || in != der.data() + der.size()) ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "not one PKCS#8 key");
    EvpPkeyPtr key(EVP_PKCS82PKEY(info.get()));
    if (!key || !RsaKeys::IsRsa(key.get())) ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "not an RSA PKCS#8 key");
    try {
        return RsaKeys::Export(key.get(), true);
    } catch (const CryptoError&) {
        ThrowCrypto(CKR_WRAPPED_KEY_INVALID, "the PKCS#8 key has no RSA private values");
    }
}

CK_ULONG Rsa::CheckPublic(const Bytes& modulus, const Bytes& publicExponent) {
    BignumPtr n = BytesToBignum(modulus);
    if (BN_is_zero(n.get()) || !BN_is_odd(n.get())) ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "no RSA modulus");
    BignumPtr e = BytesToBignum(publicExponent);
    if (!BN_is_odd(e.get()) || BN_is_one(e.get()) || BN_cmp(e.get(), n.get()) >= 0)
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "no RSA public exponent");
    return static_cast<CK_ULONG>(BN_num_bits(n.get()));
}

void Rsa::CheckPrivate(const RsaKeyComponents& c) {
    BignumPtr n = BytesToBignum(c.modulus);
    if (BN_is_zero(n.get()) || !BN_is_odd(n.get())) ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "no RSA modulus");
    if (!c.publicExponent.empty()) CheckPublic(c.modulus, c.publicExponent);
    BignumPtr d = BytesToBignum(c.privateExponent);
    if (BN_is_zero(d.get()) || BN_cmp(d.get(), n.get()) >= 0)
        ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "no RSA private exponent");
    if (c.prime1.empty() || c.prime2.empty()) return;
    BignumPtr p = BytesToBignum(c.prime1), q = BytesToBignum(c.prime2), product(BN_new());
    BnCtxPtr bnCtx(BN_CTX_new());
    if (!product || !bnCtx || BN_mul(product.get(), p.get(), q.get(), bnCtx.get()) != 1)
        ThrowCrypto(CKR_HOST_MEMORY, "cannot check the RSA primes");
    if (BN_cmp(product.get(), n.get()) != 0) ThrowCrypto(CKR_ATTRIBUTE_VALUE_INVALID, "the primes do not make the modulus");
}

}  // namespace crypto
