// Placeholder bodies; the implementation follows.
#include "Pkcs12.h"
namespace softtoken::crypto {
Pkcs12Contents Pkcs12::Parse(const Bytes&, const Bytes&) { throw CryptoError(CKR_FUNCTION_NOT_SUPPORTED, "todo"); }
}
