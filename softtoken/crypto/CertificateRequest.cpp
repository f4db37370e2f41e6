// Placeholder bodies; the implementation follows.
#include "CertificateRequest.h"
namespace softtoken::crypto {
Bytes CertificateRequest::Build(const KeyMaterial&, const KeyMaterial&, const std::vector<std::pair<std::string, std::string>>&, const std::vector<std::pair<std::string, std::string>>&, const std::vector<std::array<std::string, 3>>&) { throw CryptoError(CKR_FUNCTION_NOT_SUPPORTED, "todo"); }
}
