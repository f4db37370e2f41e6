#include "runner/PassSequence.h"

#include <string>
#include <vector>

CPassSequence::CPassSequence(Logger& logger, CTestsOperator& tests, const CRunSettings& settings)
    : m_logger(logger), m_tests(tests), m_settings(settings)
{
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
        m_logger.info("Skipping token initialization");
    } else {
        m_logger.info("Trying to perform init token using default PIN");
        m_tests.FormatToken();
    }

    const std::string defaultPin = "52816037";
    const std::vector<unsigned char> defaultPinBytes(defaultPin.begin(), defaultPin.end());

    m_logger.info("Logging in using default PIN");
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

    m_logger.info("Getting list of objects on token");
    m_tests.GetObjects();
    m_logger.info("Trying to change user PIN");
    m_tests.TestPinChange(CKU_USER);
    m_logger.info("Trying to change SO PIN");
    m_tests.TestPinChange(CKU_SO);

    // Cleaning runs in a user session.
    m_tests.Logout();
    if (!LogIn(defaultPinBytes)) {
        return false;
    }
    m_logger.info("Cleaning token");
    m_tests.CleanCard();
    m_tests.GetObjects();
    m_logger.info("Logging out of token");
    m_tests.CloseAllSessions();
    return true;
}

void CPassSequence::RunRsaCertificateImports()
{
    m_logger.info("Trying to load test RSA certificate and private key from PKCS#12 file");
    m_tests.LoadRsaCertificateWithKey();
    m_logger.info("Trying to load test X509 RSA certificate from Base64 file");
    m_tests.LoadRsaCertificateBase64();
    m_logger.info("Trying to delete test X509 RSA certificate");
    m_tests.DeleteRsaCertificate();
    m_logger.info("Trying to load test X509 RSA certificate from DER file");
    m_tests.LoadRsaCertificateDER();
    m_logger.info("Trying to delete test X509 RSA certificate");
    m_tests.DeleteRsaCertificate();
}

void CPassSequence::RunRsaKeyPair1024()
{
    m_logger.info("Trying to generate RSA 1024 key pair");
    m_tests.GenerateRsaKeyPair(1024);
    m_logger.info("Trying to sign and verify data with RSA key");
    m_tests.SignAndVerifyWithRsaKey();
    m_logger.info("Trying to generate CSR for RSA key");
    m_tests.GenerateRsaCSR();
    m_logger.info("Trying to delete RSA key pair");
    m_tests.DeleteRsaKeyPair();
}

void CPassSequence::RunRsaKeyPair2048()
{
    m_logger.info("Trying to generate RSA 2048 key pair");
    m_tests.GenerateRsaKeyPair(2048);
    m_logger.info("Trying to sign and verify data with RSA key");
    m_tests.SignAndVerifyWithRsaKey();
    m_logger.info("Trying to delete RSA key pair");
    m_tests.DeleteRsaKeyPair();
}

void CPassSequence::RunGostCertificateImports()
{
    m_logger.info("Trying to load test GOST certificate and private key from PKCS#12 file");
    m_tests.LoadGostCertificateWithKey();
    m_logger.info("Trying to load test X509 GOST certificate from DER file");
    m_tests.LoadGostCertificateDER();
    m_logger.info("Trying to delete test X509 GOST certificate");
    m_tests.DeleteGostCertificate();
}

void CPassSequence::RunGostKeyPair()
{
    m_logger.info("Trying to generate GOST key pair");
    m_tests.GenerateGostKeyPair();
    m_logger.info("Trying to sign and verify data with GOST key");
    m_tests.SignAndVerifyWithGostKey();
    m_logger.info("Trying to generate GOST CSR");
    m_tests.GenerateGostCSR();
    m_logger.info("Trying to delete GOST key pair");
    m_tests.DeleteGostKeyPair();
}

void CPassSequence::RunGostSecretKey()
{
    m_logger.info("Trying to generate GOST secret key");
    m_tests.GenerateGostSecretKey();
    m_logger.info("Trying to delete GOST secret key");
    m_tests.DeleteGostSecretKey();
    m_logger.info("Trying to store GOST secret key");
    m_tests.StoreGostSecretKey();
    m_logger.info("Trying to calculate and verify MAC with GOST secret key");
    m_tests.CalculateAndVerifyGostMac();
    m_logger.info("MAC is OK");
    m_logger.info("Trying to delete GOST secret key");
    m_tests.DeleteGostSecretKey();
}
