#include "standard/CertificateTemplate.h"

CAttributeTemplate CCertificateTemplate::Make(const std::string& label, const Bytes& id, const Bytes& der)
{
    return Make(label, id, der, crypto::Certificate::Parse(der));
}

CAttributeTemplate CCertificateTemplate::Make(const std::string& label, const Bytes& id, const Bytes& der,
                                              const crypto::CertificateFields& fields)
{
    CAttributeTemplate certificate;
    certificate.Ulong(CKA_CLASS, CKO_CERTIFICATE)
        .Ulong(CKA_CERTIFICATE_TYPE, CKC_X_509)
        .Bool(CKA_TOKEN, true)
        .Bool(CKA_PRIVATE, false)
        .Text(CKA_LABEL, label)
        .Value(CKA_ID, id)
        .Value(CKA_VALUE, der)
        .Value(CKA_SUBJECT, fields.subject)
        .Value(CKA_ISSUER, fields.issuer)
        .Value(CKA_SERIAL_NUMBER, fields.serialNumber);
    return certificate;
}
