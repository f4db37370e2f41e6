#pragma once
// The GOST hashes through the engine, in parts: GOST R 34.11-94 with the CryptoPro hash
// parameters (the only ones the engine has) and GOST R 34.11-2012 ("Streebog", 256 and 512 bits).
// Bytes come out as the engine gives them, which is the order PKCS#11 passes to CKM_GOSTR3410.
#include "Bytes.h"

#include <memory>

namespace crypto {

class GostDigest {
public:
    enum class Algorithm { R3411_94, R3411_2012_256, R3411_2012_512 };

    // CKR_FUNCTION_FAILED when the engine is missing.
    explicit GostDigest(Algorithm algorithm);
    ~GostDigest();
    GostDigest(const GostDigest&) = delete;
    GostDigest& operator=(const GostDigest&) = delete;

    static size_t Length(Algorithm algorithm);
    size_t Length() const;
    void Update(const unsigned char* data, size_t length);
    // The hash of everything given; the digest cannot take more afterwards.
    Bytes Final();
    static Bytes Compute(Algorithm algorithm, const Bytes& data);

private:
    struct State;
    Algorithm m_algorithm;
    std::unique_ptr<State> m_state;
};

}  // namespace crypto
