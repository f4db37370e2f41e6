// The Ec family's mechanisms.
#include "mechanisms/MechanismTable.h"

namespace softtoken {

MechanismRows EcMechanisms() { return {nullptr, 0}; }

}  // namespace softtoken
