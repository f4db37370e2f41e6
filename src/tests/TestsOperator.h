#pragma once
// The one object through which the test run reaches the token: owns the loaded module and
// one operator of each kind, shares module, slot and session with them, forwards every test
// to the operator that does it, and runs the PIN change and token cleaning tests itself.
#include <string>
#include <vector>

#include "signature/GostSignatureOperator.h"
#include "signature/RsaSignatureOperator.h"
#include "support/Logger.h"
#include "tests/PinJournal.h"
#include "token/BasicOperator.h"
#include "token/TestPins.h"
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

    // The PINs the tests use, formatting included; the default PIN for both until set.
    void SetPins(const CTestPins& pins);
    const CTestPins& Pins() const { return m_pins; }
    // Where a PIN change is recorded while the PIN is temporary; none until set.
    void SetPinJournal(const CPinJournal* journal) { m_journal = journal; }
    // The chosen token's serial number and label, as the journal keys its records.
    CPinJournal::Entry CurrentToken();
    // An earlier run left this PIN at the temporary one: one login with it and the change
    // back, on a session of its own, with one line saying what was found.
    void RecoverTemporaryPin(const CPinJournal::Entry& entry);

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
    // to the run's PIN, and a line that says whether it is back.
    void RestoreDefaultPin(unsigned long userType);
    // One login with the temporary PIN on a new session, then the change back: the login's
    // result (CKR_PIN_INCORRECT: the PIN was not the temporary one); failures of the change throw.
    CK_RV LogInWithTemporaryAndChangeBack(unsigned long userType, const std::string& temporaryPin);
    void RecordTemporaryPin(unsigned long userType);
    void ForgetTemporaryPin();
    // The command that sets the PIN back by hand, for the line of a PIN left temporary.
    std::string RecoveryCommand(unsigned long userType, const std::string& temporaryPin);

    // True from the pass's own C_InitToken to the first user login after it.
    bool m_userPinMayBeUnset = false;
    CBasicOperator m_basicOperator;
    CRsaSignatureOperator m_rsaOperator;
    CGostSignatureOperator m_gostOperator;
    Logger m_logger;
    CTestPins m_pins;
    const CPinJournal* m_journal = nullptr;
    std::string m_journalSerial;
};
