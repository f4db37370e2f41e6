#pragma once
// The byte buffer every crypto-layer interface takes and returns.
#include <vector>

namespace crypto {
using Bytes = std::vector<unsigned char>;
}
