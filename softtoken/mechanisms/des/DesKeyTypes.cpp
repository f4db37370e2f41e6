// The attributes of the Des family's key types.
#include "objects/KeyTypes.h"

namespace softtoken {

KeyTypeRows DesKeyTypes() { return {nullptr, 0}; }

}  // namespace softtoken
