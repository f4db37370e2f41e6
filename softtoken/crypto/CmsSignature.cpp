// Placeholder bodies; the implementation follows.
#include "CmsSignature.h"
namespace softtoken::crypto {
Bytes CmsSignature::SignDetached(const KeyMaterial&, const Bytes&, const Bytes&) { throw CryptoError(CKR_FUNCTION_NOT_SUPPORTED, "todo"); }
CK_RV CmsSignature::Verify(const Bytes&, const Bytes&) { return CKR_FUNCTION_NOT_SUPPORTED; }
}
