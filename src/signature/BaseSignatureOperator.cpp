#include "signature/BaseSignatureOperator.h"

CBaseSignatureOperator::CBaseSignatureOperator() : m_keyPairId(100), m_secretKeyId(200), m_certificateId(59) {}
CBaseSignatureOperator::~CBaseSignatureOperator() = default;
void CBaseSignatureOperator::GenerateCSR() {}
void CBaseSignatureOperator::StoreSecretKey() {}
void CBaseSignatureOperator::LoadX509CertificateBase64() {}
void CBaseSignatureOperator::LoadX509CertificateDER() {}
void CBaseSignatureOperator::LoadCertificateWithKey() {}
void CBaseSignatureOperator::DeleteKeyPair() {}
void CBaseSignatureOperator::DeleteSecretKey() {}
void CBaseSignatureOperator::DeleteX509Certificate() {}
