// The Aes family's mechanisms.
#include "mechanisms/MechanismTable.h"

namespace softtoken {

MechanismRows AesMechanisms() { return {nullptr, 0}; }

}  // namespace softtoken
