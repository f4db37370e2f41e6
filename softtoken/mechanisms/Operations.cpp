#include "mechanisms/CipherOperation.h"
#include "mechanisms/SignOperation.h"
#include "store/StoreCipher.h"

#include <algorithm>

namespace softtoken {

CK_RV SignOperation::Verify(const Bytes& signature) {
    if (signature.size() != ResultLength()) return CKR_SIGNATURE_LEN_RANGE;
    Bytes expected = Final();
    const bool same = StoreCipher::EqualConstantTime(expected, signature);
    StoreCipher::Wipe(expected);
    return same ? CKR_OK : CKR_SIGNATURE_INVALID;
}

Bytes CipherOperation::OneShot(const unsigned char* data, size_t length) {
    Bytes out = Update(data, length);
    const Bytes last = Final();
    out.insert(out.end(), last.begin(), last.end());
    return out;
}

size_t CipherOperation::OneShotBound(size_t) const { return 0; }

size_t CipherOperation::OneShotInto(const unsigned char* data, size_t length, unsigned char* out) {
    Bytes result = OneShot(data, length);
    std::copy(result.begin(), result.end(), out);
    StoreCipher::Wipe(result);
    return result.size();
}

}  // namespace softtoken
