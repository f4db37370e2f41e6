#pragma once
// The one object through which the test run reaches the token: owns the loaded module and
// one operator of each kind, shares module, slot and session with them, forwards every test
// to the operator that does it, and runs the PIN change and token cleaning tests itself.
#include <string>
#include <vector>

#include "signature/GostSignatureOperator.h"
#include "signature/RsaSignatureOperator.h"
#include "support/Logger.h"
#include "token/BasicOperator.h"
#include "token/TokenOperator.h"

class CTestsOperator : public CTokenOperator {
public:
    explicit CTestsOperator(const CModuleOptions& options = CModuleOptions());
    ~CTestsOperator() override;
    CTestsOperator(const CTestsOperator&) = delete;
    CTestsOperator& operator=(const CTestsOperator&) = delete;

    bool SelectSlot() override;
    // Where the signature tests read their test files; "../conf/" until set.
    void SetConfDir(const std::string& directory);
    bool Authenticate(const std::vector<unsigned char>& pin, unsigned long userType, unsigned long flags) override;
    using CTokenOperator::Authenticate;

    void TestPinChange(unsigned long userType);
    void CleanCard();

    void FormatToken();
    void ChangePin(const std::string& oldPin, const std::string& newPin);
    void GetObjects();

    void GenerateRsaKeyPair(int bits);
    void GenerateRsaCSR();
    void LoadRsaCertificateBase64();
    void LoadRsaCertificateDER();
    void DeleteRsaCertificate();
    void LoadRsaCertificateWithKey();
    void SignAndVerifyWithRsaCertificate();
    void SignAndVerifyWithRsaKey();
    void DeleteRsaKeyPair();

    void LoadGostCertificateDER();
    void LoadGostCertificateWithKey();
    void DeleteGostCertificate();
    void SignAndVerifyWithGostKey();
    void GenerateGostKeyPair();
    void GenerateGostSecretKey();
    void DeleteGostKeyPair();
    void DeleteGostSecretKey();
    void GenerateGostCSR();
    void CalculateAndVerifyGostMac();
    void StoreGostSecretKey();

    // The operators it owns, for inspection.
    const CBasicOperator& BasicOperator() const { return m_basicOperator; }
    const CRsaSignatureOperator& RsaOperator() const { return m_rsaOperator; }
    const CGostSignatureOperator& GostOperator() const { return m_gostOperator; }

private:
    void ShareSession();
    // After a failure while the PIN of userType is the temporary one: one try to set it back
    // to the default, and a line that says whether it is back.
    void RestoreDefaultPin(unsigned long userType, const std::string& defaultPin, const std::string& temporaryPin);

    // True from the pass's own C_InitToken to the first user login after it.
    bool m_userPinMayBeUnset = false;
    CBasicOperator m_basicOperator;
    CRsaSignatureOperator m_rsaOperator;
    CGostSignatureOperator m_gostOperator;
    Logger m_logger;
};
