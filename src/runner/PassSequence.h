#pragma once
// One pass: the ordered token tests, each announced on the log before the tests operator
// runs it, with the groups the run settings choose.
#include "runner/RunSettings.h"
#include "support/Logger.h"
#include "tests/TestsOperator.h"

class CPassSequence {
public:
    CPassSequence(Logger& logger, CTestsOperator& tests, const CRunSettings& settings);

    // False when the token refused the default PIN; every other failure is thrown.
    bool Run();

private:
    // The step's line, unless a signal asked the run to stop.
    void Announce(const char* line);
    bool LogIn(const std::vector<unsigned char>& pin);
    void RunRsaCertificateImports();
    void RunRsaKeyPair1024();
    void RunRsaKeyPair2048();
    void RunGostCertificateImports();
    void RunGostKeyPair();
    void RunGostSecretKey();

    Logger& m_logger;
    CTestsOperator& m_tests;
    const CRunSettings& m_settings;
};
