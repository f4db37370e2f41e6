#include "LoadedKey.h"

#include <openssl/evp.h>

namespace crypto {

void LoadedKeyDeleter::operator()(evp_pkey_st* key) const noexcept { EVP_PKEY_free(key); }

}  // namespace crypto
