// Placeholder bodies; the implementation follows.
#include "Digest.h"
#include "CryptoError.h"
namespace softtoken::crypto {
Bytes Digest::Sha1(const Bytes&) { throw CryptoError(CKR_FUNCTION_NOT_SUPPORTED, "todo"); }
Bytes Digest::Sha256(const Bytes&) { throw CryptoError(CKR_FUNCTION_NOT_SUPPORTED, "todo"); }
Bytes Digest::Gost94(const Bytes&) { throw CryptoError(CKR_FUNCTION_NOT_SUPPORTED, "todo"); }
}
