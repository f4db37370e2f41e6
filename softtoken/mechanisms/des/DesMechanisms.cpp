// The Des family's mechanisms.
#include "mechanisms/MechanismTable.h"

namespace softtoken {

MechanismRows DesMechanisms() { return {nullptr, 0}; }

}  // namespace softtoken
