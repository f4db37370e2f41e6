#pragma once
// RSA flavour of the signature tests: RSA key pairs, signatures with the key pair and with
// an imported certificate. Has no secret-key or MAC test.
#include "signature/BaseSignatureOperator.h"

class CRsaSignatureOperator : public CBaseSignatureOperator {
public:
    CRsaSignatureOperator();
    ~CRsaSignatureOperator() override;

    void GenerateKeyPair(int keySize) override;
    void GenerateSecretKey() override;
    void SignAndVerifyWithCertificate() override;
    void SignAndVerifyWithKey() override;
    void CalculateAndVerifyMac() override;
};
