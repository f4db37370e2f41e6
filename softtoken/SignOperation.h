#pragma once
// An active signing or verification on a session: the mechanism, the key, and the data
// gathered by multi-part calls.
#include "Object.h"

#include <memory>

namespace softtoken {

class SignOperation {
public:
    // Checks the mechanism against the key (type, class, CKA_SIGN or CKA_VERIFY, parameter).
    SignOperation(const CK_MECHANISM& mechanism, std::shared_ptr<Object> key, bool verify);

    bool AllowsMultiPart() const;
    void Update(const unsigned char* data, CK_ULONG length);
    size_t SignatureLength() const;
    Bytes Sign();            // over everything given so far
    CK_RV Verify(const Bytes& signature);
    bool Started() const { return m_started; }
    void MarkStarted() { m_started = true; }

private:
    void LoadKey(bool verify);

    CK_MECHANISM_TYPE m_mechanism;
    std::shared_ptr<Object> m_key;
    Bytes m_parameter;
    Bytes m_data;
    bool m_started = false;
};

}  // namespace softtoken
