// The Hmac family's mechanisms.
#include "mechanisms/MechanismTable.h"

namespace softtoken {

MechanismRows HmacMechanisms() { return {nullptr, 0}; }

}  // namespace softtoken
