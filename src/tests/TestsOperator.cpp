#include "tests/TestsOperator.h"

#include <iostream>

#include "support/CustomException.h"
#include "support/IgnoredAnswers.h"
#include "support/ModuleAnswers.h"
#include "support/InterruptSignals.h"
#include "support/PKCSException.h"
#include "token/TokenState.h"

namespace {

// The login that Authenticate refused (it answers false for CKR_PIN_INCORRECT alone). The
// hint on how to give the run another PIN is only for a PIN the run was given.
std::optional<CModuleAnswers::Answer> RefusedLogin(bool givenPin)
{
    std::optional<CModuleAnswers::Answer> answer = CModuleAnswers::Latest(CKR_PIN_INCORRECT);
    if (answer && !givenPin) {
        answer->refusedPin.reset();
    }
    return answer;
}

}  // namespace

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
    const bool firstUserLoginAfterFormat = userType == CKU_USER && m_userPinMayBeUnset;
    if (userType == CKU_USER) {
        m_userPinMayBeUnset = false;
    }
    bool loggedIn = false;
    try {
        loggedIn = CTokenOperator::Authenticate(pin, userType, flags);
    } catch (const CPKCSException& e) {
        // Some tokens show the user PIN initialised after C_InitToken and still refuse the
        // login for want of it: the SO sets it, and the login is tried once more.
        if (!firstUserLoginAfterFormat || e.m_rv != CKR_USER_PIN_NOT_INITIALIZED) {
            throw;
        }
        m_basicOperator.SetUserPinAsSo(pin, "CTokenOperator::Authenticate");
        loggedIn = CTokenOperator::Authenticate(pin, userType, flags);
    }
    // A refused PIN still leaves a new current session, which the members must follow.
    ShareSession();
    return loggedIn;
}

void CTestsOperator::ShareSession()
{
    m_basicOperator.SetCurrentSession(m_hSession);
    m_rsaOperator.SetCurrentSession(m_hSession);
    m_gostOperator.SetCurrentSession(m_hSession);
}

void CTestsOperator::SetPins(const CTestPins& pins)
{
    m_pins = pins;
    m_basicOperator.SetPins(pins);
}

CPinJournal::Entry CTestsOperator::CurrentToken()
{
    const CK_TOKEN_INFO info = ReadTokenInfo(m_slotId, "CTokenOperator::CheckToken");
    CPinJournal::Entry entry;
    entry.serial = CTokenState::Field(info.serialNumber, sizeof(info.serialNumber));
    entry.label = CTokenState::Field(info.label, sizeof(info.label));
    return entry;
}

void CTestsOperator::TestPinChange(unsigned long userType)
{
    const std::string& defaultPin = m_pins.PinOf(userType);
    const std::string& temporaryPin = m_pins.TemporaryPin();
    const std::vector<unsigned char> defaultPinBytes(defaultPin.begin(), defaultPin.end());
    const std::vector<unsigned char> temporaryPinBytes(temporaryPin.begin(), temporaryPin.end());

    m_logger.info("Logging in with default PIN");
    Logout();
    if (!Authenticate(defaultPinBytes, userType, CKF_RW_SESSION)) {
        throw CustomException("Can not authenticate into token using default PIN", RefusedLogin(true));
    }
    // The record comes first, so that a run killed during the change leaves it behind.
    RecordTemporaryPin(userType);
    try {
        ChangePin(defaultPin, temporaryPin);
    } catch (...) {
        ForgetTemporaryPin();
        throw;
    }

    // From here until the change back the token holds the temporary PIN: a failure or an
    // interrupt must not leave it there without a word.
    try {
        CInterruptSignals::ThrowIfPending();
        m_logger.info("Trying to login with new PIN");
        Logout();
        if (!Authenticate(temporaryPinBytes, userType, CKF_RW_SESSION)) {
            throw CustomException("Can not authenticate into token using new PIN", RefusedLogin(false));
        }

        CInterruptSignals::ThrowIfPending();
        m_logger.info("Trying to change PIN back to default");
        ChangePin(temporaryPin, defaultPin);
    } catch (...) {
        RestoreDefaultPin(userType);
        throw;
    }
    ForgetTemporaryPin();

    CInterruptSignals::ThrowIfPending();
    m_logger.info("Trying to login with default PIN");
    Logout();
    if (!Authenticate(defaultPinBytes, userType, CKF_RW_SESSION)) {
        throw CustomException("Can not authenticate into token using default PIN", RefusedLogin(true));
    }
}

void CTestsOperator::RecordTemporaryPin(unsigned long userType)
{
    if (m_journal == nullptr) {
        return;
    }
    CPinJournal::Entry entry = CurrentToken();
    entry.userType = userType;
    entry.temporaryPin = m_pins.TemporaryPin();
    m_journal->Record(entry);
    m_journalSerial = entry.serial;
}

void CTestsOperator::ForgetTemporaryPin()
{
    if (m_journal != nullptr) {
        m_journal->Clear(m_journalSerial);
    }
}

CK_RV CTestsOperator::LogInWithTemporaryAndChangeBack(unsigned long userType, const std::string& temporaryPin)
{
    const std::vector<unsigned char> temporaryPinBytes(temporaryPin.begin(), temporaryPin.end());
    const CK_RV rv = OpenSessionAndLogIn(temporaryPinBytes, userType, CKF_RW_SESSION);
    ShareSession();
    if (rv == CKR_OK) {
        m_basicOperator.ChangePin(temporaryPin, m_pins.PinOf(userType));
    }
    return rv;
}

std::string CTestsOperator::RecoveryCommand(unsigned long userType, const std::string& temporaryPin)
{
    const std::string& pin = m_pins.PinOf(userType);
    const std::string login =
        userType == CKU_SO ? " --login --login-type so --so-pin " + temporaryPin : " --login --pin " + temporaryPin;
    return "pkcs11-tool --module " + GetLibraryPath() + " --slot " + std::to_string(m_slotId) + login +
           " --change-pin --new-pin " + (pin == CTestPins::kDefaultPin ? pin : std::string("PIN"));
}

void CTestsOperator::RestoreDefaultPin(unsigned long userType)
{
    const std::string& temporaryPin = m_pins.TemporaryPin();
    CK_RV rv = CKR_GENERAL_ERROR;
    const CIgnoredAnswers cleanUp;
    try {
        // The failure may have left a login or none; only the login that follows matters.
        m_pFunctionList->C_Logout(m_hSession);
        rv = LogInWithTemporaryAndChangeBack(userType, temporaryPin);
    } catch (...) {
        // Reported by the line below; the failure that brought us here is the one to report.
        rv = CKR_GENERAL_ERROR;
    }
    const std::string pin = CTokenState::PinName(userType);
    const Logger::FailureNotes note;
    if (rv == CKR_OK) {
        ForgetTemporaryPin();
        m_logger.info("The " + pin + " was the temporary PIN " + temporaryPin + " when the test failed; it is back to " +
                      m_pins.Describe(userType));
    } else if (rv == CKR_PIN_INCORRECT) {
        // The token refused the temporary PIN: the change to it never took effect.
        ForgetTemporaryPin();
        m_logger.info("The " + pin + " is not the temporary PIN " + temporaryPin + ": the token refused it");
    } else {
        m_logger.error("The " + pin + " is still the temporary PIN " + temporaryPin + ": setting it back to " +
                       m_pins.Describe(userType) + " failed; restore it with: " +
                       RecoveryCommand(userType, temporaryPin));
    }
}

void CTestsOperator::RecoverTemporaryPin(const CPinJournal::Entry& entry)
{
    const std::string pin = CTokenState::PinName(entry.userType);
    CK_RV rv = CKR_GENERAL_ERROR;
    try {
        rv = LogInWithTemporaryAndChangeBack(entry.userType, entry.temporaryPin);
    } catch (...) {
        m_logger.error("An earlier run left the " + pin + " at the temporary PIN " + entry.temporaryPin +
                       "; setting it back failed; restore it with: " +
                       RecoveryCommand(entry.userType, entry.temporaryPin));
        throw;
    }
    if (rv == CKR_OK) {
        m_logger.info("An earlier run left the " + pin + " at the temporary PIN " + entry.temporaryPin +
                      "; it is back to " + m_pins.Describe(entry.userType));
    } else if (rv == CKR_PIN_INCORRECT) {
        m_logger.info("An earlier run stopped while changing the " + pin + "; the token refused the temporary PIN " +
                      entry.temporaryPin + ", so the change had not taken effect");
    } else {
        m_logger.error("An earlier run left the " + pin + " at the temporary PIN " + entry.temporaryPin +
                       "; the token refused the login with it; restore it with: " +
                       RecoveryCommand(entry.userType, entry.temporaryPin));
        throw CPKCSException(rv, "CTestsOperator::RecoverTemporaryPin");
    }
    if (m_journal != nullptr) {
        m_journal->Clear(entry.serial);
    }
    // The pass begins with no session, as it would have without this.
    CloseAllSessions();
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

void CTestsOperator::FormatToken()
{
    m_basicOperator.FormatToken();
    m_userPinMayBeUnset = true;
}
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
