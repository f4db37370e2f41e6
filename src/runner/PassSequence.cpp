#include "runner/PassSequence.h"

#include <string>
#include <vector>

#include "support/InterruptSignals.h"

CPassSequence::CPassSequence(Logger& logger, CTestsOperator& tests, const CRunSettings& settings)
    : m_logger(logger), m_tests(tests), m_settings(settings)
{
}

void CPassSequence::Announce(const char* line)
{
    // An interrupt lets the step in progress finish and stops before the next one.
    CInterruptSignals::ThrowIfPending();
    m_logger.info(line);
}

bool CPassSequence::LogIn(const std::vector<unsigned char>& pin)
{
    if (m_tests.Authenticate(pin, CKU_USER, CKF_RW_SESSION)) {
        return true;
    }
    m_logger.error("Can not authenticate into token using default PIN.");
    return false;
}

bool CPassSequence::Run()
{
    if (m_settings.skipInitToken) {
        Announce("Skipping token initialization");
    } else {
        Announce("Trying to perform init token using default PIN");
        m_tests.FormatToken();
    }

    const std::string defaultPin = m_tests.Pins().UserPin();
    const std::vector<unsigned char> defaultPinBytes(defaultPin.begin(), defaultPin.end());

    Announce("Logging in using default PIN");
    if (!LogIn(defaultPinBytes)) {
        return false;
    }
    if (!m_settings.skipCert) {
        RunRsaCertificateImports();
    }
    RunRsaKeyPair1024();
    if (!m_settings.skip2048 && !m_settings.gostTests) {
        RunRsaKeyPair2048();
    }
    if (m_settings.gostTests) {
        if (!m_settings.skipCert) {
            RunGostCertificateImports();
        }
        RunGostKeyPair();
        RunGostSecretKey();
    }

    Announce("Getting list of objects on token");
    m_tests.GetObjects();
    Announce("Trying to change user PIN");
    m_tests.TestPinChange(CKU_USER);
    Announce("Trying to change SO PIN");
    m_tests.TestPinChange(CKU_SO);

    // Cleaning runs in a user session.
    CInterruptSignals::ThrowIfPending();
    m_tests.Logout();
    if (!LogIn(defaultPinBytes)) {
        return false;
    }
    Announce("Cleaning token");
    m_tests.CleanCard();
    CInterruptSignals::ThrowIfPending();
    m_tests.GetObjects();
    Announce("Logging out of token");
    m_tests.CloseAllSessions();
    return true;
}

void CPassSequence::RunRsaCertificateImports()
{
    Announce("Trying to load test RSA certificate and private key from PKCS#12 file");
    m_tests.LoadRsaCertificateWithKey();
    Announce("Trying to load test X509 RSA certificate from Base64 file");
    m_tests.LoadRsaCertificateBase64();
    Announce("Trying to delete test X509 RSA certificate");
    m_tests.DeleteRsaCertificate();
    Announce("Trying to load test X509 RSA certificate from DER file");
    m_tests.LoadRsaCertificateDER();
    Announce("Trying to delete test X509 RSA certificate");
    m_tests.DeleteRsaCertificate();
}

void CPassSequence::RunRsaKeyPair1024()
{
    Announce("Trying to generate RSA 1024 key pair");
    m_tests.GenerateRsaKeyPair(1024);
    Announce("Trying to sign and verify data with RSA key");
    m_tests.SignAndVerifyWithRsaKey();
    Announce("Trying to generate CSR for RSA key");
    m_tests.GenerateRsaCSR();
    Announce("Trying to delete RSA key pair");
    m_tests.DeleteRsaKeyPair();
}

void CPassSequence::RunRsaKeyPair2048()
{
    Announce("Trying to generate RSA 2048 key pair");
    m_tests.GenerateRsaKeyPair(2048);
    Announce("Trying to sign and verify data with RSA key");
    m_tests.SignAndVerifyWithRsaKey();
    Announce("Trying to delete RSA key pair");
    m_tests.DeleteRsaKeyPair();
}

void CPassSequence::RunGostCertificateImports()
{
    Announce("Trying to load test GOST certificate and private key from PKCS#12 file");
    m_tests.LoadGostCertificateWithKey();
    Announce("Trying to load test X509 GOST certificate from DER file");
    m_tests.LoadGostCertificateDER();
    Announce("Trying to delete test X509 GOST certificate");
    m_tests.DeleteGostCertificate();
}

void CPassSequence::RunGostKeyPair()
{
    Announce("Trying to generate GOST key pair");
    m_tests.GenerateGostKeyPair();
    Announce("Trying to sign and verify data with GOST key");
    m_tests.SignAndVerifyWithGostKey();
    Announce("Trying to generate GOST CSR");
    m_tests.GenerateGostCSR();
    Announce("Trying to delete GOST key pair");
    m_tests.DeleteGostKeyPair();
}

void CPassSequence::RunGostSecretKey()
{
    Announce("Trying to generate GOST secret key");
    m_tests.GenerateGostSecretKey();
    Announce("Trying to delete GOST secret key");
    m_tests.DeleteGostSecretKey();
    Announce("Trying to store GOST secret key");
    m_tests.StoreGostSecretKey();
    Announce("Trying to calculate and verify MAC with GOST secret key");
    m_tests.CalculateAndVerifyGostMac();
    Announce("MAC is OK");
    Announce("Trying to delete GOST secret key");
    m_tests.DeleteGostSecretKey();
}
