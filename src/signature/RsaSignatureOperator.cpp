#include "signature/RsaSignatureOperator.h"

CRsaSignatureOperator::CRsaSignatureOperator() = default;
CRsaSignatureOperator::~CRsaSignatureOperator() = default;
void CRsaSignatureOperator::GenerateKeyPair(int) {}
void CRsaSignatureOperator::GenerateSecretKey() {}
void CRsaSignatureOperator::SignAndVerifyWithCertificate() {}
void CRsaSignatureOperator::SignAndVerifyWithKey() {}
void CRsaSignatureOperator::CalculateAndVerifyMac() {}
