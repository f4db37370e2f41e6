#pragma once
// The key, certificate and signature tests that every signature operator offers to the
// tests operator. A pure interface without data.

class ISignatureOperator {
public:
    virtual ~ISignatureOperator() = default;

    virtual void GenerateKeyPair(int keySize) = 0;
    virtual void GenerateCSR() = 0;
    virtual void LoadX509CertificateBase64() = 0;
    virtual void LoadX509CertificateDER() = 0;
    virtual void LoadCertificateWithKey() = 0;
    virtual void SignAndVerifyWithCertificate() = 0;
    virtual void SignAndVerifyWithKey() = 0;
    virtual void DeleteKeyPair() = 0;
    virtual void DeleteX509Certificate() = 0;
};
