#include "signature/GostSignatureOperator.h"

CGostSignatureOperator::CGostSignatureOperator() = default;
CGostSignatureOperator::~CGostSignatureOperator() = default;
void CGostSignatureOperator::GenerateKeyPair(int) {}
void CGostSignatureOperator::GenerateSecretKey() {}
void CGostSignatureOperator::StoreSecretKey() {}
void CGostSignatureOperator::SignAndVerifyWithCertificate() {}
void CGostSignatureOperator::SignAndVerifyWithKey() {}
void CGostSignatureOperator::CalculateAndVerifyMac() {}
