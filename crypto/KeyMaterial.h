#pragma once
// A key the CSR and CMS code can sign with or describe: exactly one of the two is set.
#include "GostKey.h"
#include "RsaKey.h"

#include <optional>

namespace crypto {

struct KeyMaterial {
    std::optional<RsaKeyComponents> rsa;
    std::optional<GostKeyComponents> gost;
};

}  // namespace crypto
