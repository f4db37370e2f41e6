#pragma once
// GOST flavour of the signature tests: GOST R 34.10 key pairs and signatures, and the
// GOST 28147-89 secret key, stored key and MAC tests.
#include "signature/BaseSignatureOperator.h"

class CGostSignatureOperator : public CBaseSignatureOperator {
public:
    CGostSignatureOperator();
    ~CGostSignatureOperator() override;

    void GenerateKeyPair(int keySize) override;
    void GenerateSecretKey() override;
    void StoreSecretKey() override;
    void SignAndVerifyWithCertificate() override;
    void SignAndVerifyWithKey() override;
    void CalculateAndVerifyMac() override;
};
