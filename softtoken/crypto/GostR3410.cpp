// Placeholder bodies; the implementation follows.
#include "GostR3410.h"
namespace softtoken::crypto {
Bytes GostR3410::DefaultParamsOid() { return {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01}; }
Bytes GostR3410::DefaultHashParamsOid() { return {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1E, 0x01}; }
bool GostR3410::IsKnownParamSet(const Bytes&) { return false; }
GostKeyComponents GostR3410::Generate(const Bytes&) { throw CryptoError(CKR_FUNCTION_NOT_SUPPORTED, "todo"); }
Bytes GostR3410::Sign(const GostKeyComponents&, const Bytes&) { throw CryptoError(CKR_FUNCTION_NOT_SUPPORTED, "todo"); }
CK_RV GostR3410::Verify(const Bytes&, const Bytes&, const Bytes&, const Bytes&) { return CKR_FUNCTION_NOT_SUPPORTED; }
Bytes GostR3410::PublicFromPrivate(const Bytes&, const Bytes&) { throw CryptoError(CKR_FUNCTION_NOT_SUPPORTED, "todo"); }
}
