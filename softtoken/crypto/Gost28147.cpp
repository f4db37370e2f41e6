// Placeholder bodies; the implementation follows.
#include "Gost28147.h"
namespace softtoken::crypto {
Bytes Gost28147::DefaultParamsOid() { return {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1F, 0x01}; }
bool Gost28147::IsKnownParamSet(const Bytes&) { return false; }
Bytes Gost28147::Mac(const Bytes&, const Bytes&, const Bytes&, const Bytes&) { throw CryptoError(CKR_FUNCTION_NOT_SUPPORTED, "todo"); }
}
