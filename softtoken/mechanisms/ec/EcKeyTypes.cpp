// The attributes of the Ec family's key types.
#include "objects/KeyTypes.h"

namespace softtoken {

KeyTypeRows EcKeyTypes() { return {nullptr, 0}; }

}  // namespace softtoken
