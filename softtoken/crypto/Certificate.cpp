// Placeholder bodies; the implementation follows.
#include "Certificate.h"
namespace softtoken::crypto {
CertificateFields Certificate::Parse(const Bytes&) { throw CryptoError(CKR_FUNCTION_NOT_SUPPORTED, "todo"); }
}
