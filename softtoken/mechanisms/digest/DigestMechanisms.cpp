// The digest family: message digests, in one piece or in parts (C_DigestKey included).
#include "mechanisms/MechanismTable.h"

namespace softtoken {

MechanismRows DigestMechanisms() { return {nullptr, 0}; }

}  // namespace softtoken
