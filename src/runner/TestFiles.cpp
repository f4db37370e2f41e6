#include "runner/TestFiles.h"

#include "signature/GostSignatureOperator.h"
#include "signature/RsaSignatureOperator.h"

void CTestFiles::Check(const CRunSettings& settings)
{
    // Only the certificate import steps read test files.
    if (settings.passes < 1 || settings.skipCert) {
        return;
    }
    // Operators without a module: only their paths and readers are used.
    CRsaSignatureOperator rsa;
    rsa.SetConfDir(settings.TestFileDir());
    rsa.ReadTestP12File();
    rsa.ReadTestCertificateBase64();
    rsa.ReadTestCertificateDER();
    if (settings.gostTests) {
        CGostSignatureOperator gost;
        gost.SetConfDir(settings.TestFileDir());
        gost.ReadTestP12File();
        gost.ReadTestCertificateDER();
    }
}
