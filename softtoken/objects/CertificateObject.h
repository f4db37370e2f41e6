#pragma once
// X.509 certificate objects: the attributes the token takes from the certificate's DER.
#include "objects/Object.h"
#include "crypto/Certificate.h"

#include <string>

namespace softtoken {

class CertificateObject {
public:
    // Fills CKA_SUBJECT, CKA_ISSUER and CKA_SERIAL_NUMBER from CKA_VALUE where the template
    // left them out. A value that is not one certificate fails only when the subject is missing.
    static void DeriveFields(Object& certificate);
    // A token certificate object as the vendor import entries make it.
    static Object Make(const Bytes& label, const Bytes& id, const Bytes& der);
    // The same from a certificate whose fields the caller has already parsed.
    static Object Make(const Bytes& label, const Bytes& id, const Bytes& der,
                       const crypto::CertificateFields& fields);
};

}  // namespace softtoken
