#include "tests/TestsOperator.h"

#include <iostream>

#include "support/CustomException.h"
#include "support/PKCSException.h"
#include "token/TokenState.h"

CTestsOperator::CTestsOperator(const CModuleOptions& options)
{
    // The only place the module is loaded; the members borrow it.
    Initialize(options);
    m_basicOperator.Initialize(m_hModule, m_pFunctionList);
    m_rsaOperator.Initialize(m_hModule, m_pFunctionList);
    m_gostOperator.Initialize(m_hModule, m_pFunctionList);
}

CTestsOperator::~CTestsOperator() { Finalize(); }

bool CTestsOperator::SelectSlot()
{
    const bool selected = CTokenOperator::SelectSlot();
    m_basicOperator.SetCurrentSlot(m_slotId);
    m_rsaOperator.SetCurrentSlot(m_slotId);
    m_gostOperator.SetCurrentSlot(m_slotId);
    return selected;
}

void CTestsOperator::SetConfDir(const std::string& directory)
{
    m_rsaOperator.SetConfDir(directory);
    m_gostOperator.SetConfDir(directory);
}

bool CTestsOperator::Authenticate(const std::vector<unsigned char>& pin, unsigned long userType,
                                  unsigned long flags)
{
    // A refused PIN still leaves a new current session, which the members must follow.
    const bool loggedIn = CTokenOperator::Authenticate(pin, userType, flags);
    ShareSession();
    return loggedIn;
}

void CTestsOperator::ShareSession()
{
    m_basicOperator.SetCurrentSession(m_hSession);
    m_rsaOperator.SetCurrentSession(m_hSession);
    m_gostOperator.SetCurrentSession(m_hSession);
}

void CTestsOperator::TestPinChange(unsigned long userType)
{
    const std::string defaultPin = "52816037";
    const std::string temporaryPin = "26074913";
    const std::vector<unsigned char> defaultPinBytes(defaultPin.begin(), defaultPin.end());
    const std::vector<unsigned char> temporaryPinBytes(temporaryPin.begin(), temporaryPin.end());

    m_logger.info("Logging in with default PIN");
    Logout();
    if (!Authenticate(defaultPinBytes, userType, CKF_RW_SESSION)) {
        throw CustomException("Can not authenticate into token using default PIN");
    }
    ChangePin(defaultPin, temporaryPin);

    // From here until the change back the token holds the temporary PIN: a failure must not
    // leave it there without a word.
    try {
        m_logger.info("Trying to login with new PIN");
        Logout();
        if (!Authenticate(temporaryPinBytes, userType, CKF_RW_SESSION)) {
            throw CustomException("Can not authenticate into token using new PIN");
        }

        m_logger.info("Trying to change PIN back to default");
        ChangePin(temporaryPin, defaultPin);
    } catch (...) {
        RestoreDefaultPin(userType, defaultPin, temporaryPin);
        throw;
    }

    m_logger.info("Trying to login with default PIN");
    Logout();
    if (!Authenticate(defaultPinBytes, userType, CKF_RW_SESSION)) {
        throw CustomException("Can not authenticate into token using default PIN");
    }
}

void CTestsOperator::RestoreDefaultPin(unsigned long userType, const std::string& defaultPin,
                                       const std::string& temporaryPin)
{
    const std::vector<unsigned char> temporaryPinBytes(temporaryPin.begin(), temporaryPin.end());
    bool restored = false;
    try {
        // The failure may have left a login or none; only the login that follows matters.
        m_pFunctionList->C_Logout(m_hSession);
        const CK_RV rv = OpenSessionAndLogIn(temporaryPinBytes, userType, CKF_RW_SESSION);
        ShareSession();
        if (rv == CKR_OK) {
            m_basicOperator.ChangePin(temporaryPin, defaultPin);
            restored = true;
        }
    } catch (...) {
        // Reported by the line below; the failure that brought us here is the one to report.
    }
    const std::string pin = CTokenState::PinName(userType);
    const Logger::FailureNotes note;
    if (restored) {
        m_logger.info("The " + pin + " was the temporary PIN " + temporaryPin + " when the test failed; it is back to "
                      "the default PIN " + defaultPin);
    } else {
        m_logger.error("The " + pin + " is still the temporary PIN " + temporaryPin + ": setting it back to the "
                       "default PIN " + defaultPin + " failed; see tokentest --help to restore it by hand");
    }
}

void CTestsOperator::CleanCard()
{
    CK_RV rv = m_pFunctionList->C_FindObjectsInit(m_hSession, nullptr, 0);
    if (rv != CKR_OK) {
        throw CPKCSException(rv, "C_FindObjectsInit in CTestsOperator::CleanCard");
    }
    // The whole search ends before the first deletion: no search may be active meanwhile.
    std::vector<CK_OBJECT_HANDLE> handles;
    for (;;) {
        CK_OBJECT_HANDLE handle = 0;
        CK_ULONG count = 0;
        rv = m_pFunctionList->C_FindObjects(m_hSession, &handle, 1, &count);
        if (rv != CKR_OK || count == 0) {
            break;
        }
        handles.push_back(handle);
    }
    rv = m_pFunctionList->C_FindObjectsFinal(m_hSession);
    if (rv != CKR_OK) {
        std::cout << "C_FindObjectsFinal failed. Code: " << rv << "\n" << std::flush;
    }
    for (CK_OBJECT_HANDLE handle : handles) {
        rv = m_pFunctionList->C_DestroyObject(m_hSession, handle);
        if (rv != CKR_OK) {
            std::cout << "C_DestroyObject failed for " << handle << ". Code: " << rv << "\n" << std::flush;
        }
    }
}

void CTestsOperator::FormatToken() { m_basicOperator.FormatToken(); }
void CTestsOperator::ChangePin(const std::string& oldPin, const std::string& newPin)
{
    m_basicOperator.ChangePin(oldPin, newPin);
}
void CTestsOperator::GetObjects() { m_basicOperator.GetObjects(); }

void CTestsOperator::GenerateRsaKeyPair(int bits) { m_rsaOperator.GenerateKeyPair(bits); }
void CTestsOperator::GenerateRsaCSR() { m_rsaOperator.GenerateCSR(); }
void CTestsOperator::LoadRsaCertificateBase64() { m_rsaOperator.LoadX509CertificateBase64(); }
void CTestsOperator::LoadRsaCertificateDER() { m_rsaOperator.LoadX509CertificateDER(); }
void CTestsOperator::DeleteRsaCertificate() { m_rsaOperator.DeleteX509Certificate(); }
void CTestsOperator::LoadRsaCertificateWithKey() { m_rsaOperator.LoadCertificateWithKey(); }
void CTestsOperator::SignAndVerifyWithRsaCertificate() { m_rsaOperator.SignAndVerifyWithCertificate(); }
void CTestsOperator::SignAndVerifyWithRsaKey() { m_rsaOperator.SignAndVerifyWithKey(); }
void CTestsOperator::DeleteRsaKeyPair() { m_rsaOperator.DeleteKeyPair(); }

void CTestsOperator::LoadGostCertificateDER() { m_gostOperator.LoadX509CertificateDER(); }
void CTestsOperator::LoadGostCertificateWithKey() { m_gostOperator.LoadCertificateWithKey(); }
void CTestsOperator::DeleteGostCertificate() { m_gostOperator.DeleteX509Certificate(); }
void CTestsOperator::SignAndVerifyWithGostKey() { m_gostOperator.SignAndVerifyWithKey(); }
void CTestsOperator::GenerateGostKeyPair() { m_gostOperator.GenerateKeyPair(0); }
void CTestsOperator::GenerateGostSecretKey() { m_gostOperator.GenerateSecretKey(); }
void CTestsOperator::DeleteGostKeyPair() { m_gostOperator.DeleteKeyPair(); }
void CTestsOperator::DeleteGostSecretKey() { m_gostOperator.DeleteSecretKey(); }
void CTestsOperator::GenerateGostCSR() { m_gostOperator.GenerateCSR(); }
void CTestsOperator::CalculateAndVerifyGostMac() { m_gostOperator.CalculateAndVerifyMac(); }
void CTestsOperator::StoreGostSecretKey() { m_gostOperator.StoreSecretKey(); }
