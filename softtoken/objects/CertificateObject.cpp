#include "objects/CertificateObject.h"

#include "objects/ObjectPolicy.h"
#include "crypto/Certificate.h"

namespace softtoken {

void CertificateObject::DeriveFields(Object& certificate) {
    if (certificate.Class() != CKO_CERTIFICATE || !certificate.Has(CKA_VALUE)) return;
    if (certificate.Has(CKA_SUBJECT) && certificate.Has(CKA_ISSUER) && certificate.Has(CKA_SERIAL_NUMBER)) return;
    try {
        const crypto::CertificateFields fields = crypto::Certificate::Parse(certificate.Get(CKA_VALUE));
        if (!certificate.Has(CKA_SUBJECT)) certificate.Set(CKA_SUBJECT, fields.subject);
        if (!certificate.Has(CKA_ISSUER)) certificate.Set(CKA_ISSUER, fields.issuer);
        if (!certificate.Has(CKA_SERIAL_NUMBER)) certificate.Set(CKA_SERIAL_NUMBER, fields.serialNumber);
    } catch (const crypto::CryptoError&) {
        if (!certificate.Has(CKA_SUBJECT)) throw Pkcs11Error(CKR_ATTRIBUTE_VALUE_INVALID);
    }
}

Object CertificateObject::Make(const Bytes& label, const Bytes& id, const Bytes& der) {
    return Make(label, id, der, crypto::Certificate::Parse(der));
}

Object CertificateObject::Make(const Bytes& label, const Bytes& id, const Bytes& der,
                               const crypto::CertificateFields& fields) {
    Object certificate;
    certificate.SetUlong(CKA_CLASS, CKO_CERTIFICATE);
    certificate.SetUlong(CKA_CERTIFICATE_TYPE, CKC_X_509);
    certificate.SetBool(CKA_TOKEN, true);
    certificate.SetBool(CKA_PRIVATE, false);
    certificate.Set(CKA_LABEL, label);
    certificate.Set(CKA_ID, id);
    certificate.Set(CKA_VALUE, der);
    certificate.Set(CKA_SUBJECT, fields.subject);
    certificate.Set(CKA_ISSUER, fields.issuer);
    certificate.Set(CKA_SERIAL_NUMBER, fields.serialNumber);
    ObjectPolicy::Complete(certificate, ObjectPolicy::Origin::Create);
    return certificate;
}

}  // namespace softtoken
