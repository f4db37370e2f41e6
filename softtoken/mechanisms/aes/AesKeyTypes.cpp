// The attributes of the Aes family's key types.
#include "objects/KeyTypes.h"

namespace softtoken {

KeyTypeRows AesKeyTypes() { return {nullptr, 0}; }

}  // namespace softtoken
