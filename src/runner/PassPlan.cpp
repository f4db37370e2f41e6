#include "runner/PassPlan.h"

#include <algorithm>
#include <iostream>
#include <utility>

#include "runner/ErrorReport.h"
#include "support/ModuleAnswers.h"
#include "support/PKCSException.h"

namespace {

using Needs = std::vector<PassResource>;

}  // namespace

CPassPlan::CPassPlan(CTestsOperator& tests) : m_tests(tests) {}

CPassStep& CPassPlan::Add(const std::string& announcement, void (CTestsOperator::*operation)(),
                          std::vector<PassResource> needs)
{
    CTestsOperator& tests = m_tests;
    return Add(
        announcement,
        [&tests, operation] {
            (tests.*operation)();
            return true;
        },
        std::move(needs));
}

CPassStep& CPassPlan::Add(const std::string& announcement, std::function<bool()> run, std::vector<PassResource> needs)
{
    CPassStep step;
    step.announcement = announcement;
    step.name = announcement;
    step.run = std::move(run);
    step.needs = std::move(needs);
    m_steps.push_back(std::move(step));
    return m_steps.back();
}

void CPassPlan::AddMessage(const std::string& line)
{
    CPassStep step;
    step.announcement = line;
    step.name = line;
    m_steps.push_back(std::move(step));
}

void CPassPlan::AddRsaCertificateImports()
{
    const Needs certificate = {PassResource::Login, PassResource::RsaCertificate};
    Add("Trying to load test RSA certificate and private key from PKCS#12 file",
              &CTestsOperator::LoadRsaCertificateWithKey)
        .Writing()
        .UsingKey(CKK_RSA);
    Add("Trying to load test X509 RSA certificate from Base64 file", &CTestsOperator::LoadRsaCertificateBase64)
        .Writing()
        .Providing(PassResource::RsaCertificate);
    Add("Trying to delete test X509 RSA certificate", &CTestsOperator::DeleteRsaCertificate, certificate)
        .Writing()
        .Qualified("Base64");
    Add("Trying to load test X509 RSA certificate from DER file", &CTestsOperator::LoadRsaCertificateDER)
        .Writing()
        .Providing(PassResource::RsaCertificate);
    Add("Trying to delete test X509 RSA certificate", &CTestsOperator::DeleteRsaCertificate, certificate)
        .Writing()
        .Qualified("DER");
}

void CPassPlan::AddRsaKeyPair(int bits, bool withCsr)
{
    const std::string size = "RSA " + std::to_string(bits);
    const Needs keyPair = {PassResource::Login, PassResource::RsaKeyPair};
    // The steps outlive the plan: they hold the tests operator, never the plan.
    CTestsOperator& tests = m_tests;
    Add("Trying to generate RSA " + std::to_string(bits) + " key pair",
        [&tests, bits] {
            tests.GenerateRsaKeyPair(bits);
            return true;
        })
        .Writing()
        .Providing(PassResource::RsaKeyPair)
        .Using(CKM_RSA_PKCS_KEY_PAIR_GEN, CKF_GENERATE_KEY_PAIR, static_cast<CK_ULONG>(bits));
    Add("Trying to sign and verify data with RSA key", &CTestsOperator::SignAndVerifyWithRsaKey, keyPair)
        .Using(CKM_RSA_PKCS, CKF_SIGN | CKF_VERIFY)
        .Qualified(size);
    if (withCsr) {
        Add("Trying to generate CSR for RSA key", &CTestsOperator::GenerateRsaCSR, keyPair);
    }
    Add("Trying to delete RSA key pair", &CTestsOperator::DeleteRsaKeyPair, keyPair).Writing().Qualified(size);
}

void CPassPlan::AddGostCertificateImports()
{
    Add("Trying to load test GOST certificate and private key from PKCS#12 file",
              &CTestsOperator::LoadGostCertificateWithKey)
        .Writing()
        .UsingKey(CKK_GOSTR3410);
    Add("Trying to load test X509 GOST certificate from DER file", &CTestsOperator::LoadGostCertificateDER)
        .Writing()
        .Providing(PassResource::GostCertificate);
    Add("Trying to delete test X509 GOST certificate", &CTestsOperator::DeleteGostCertificate,
              {PassResource::Login, PassResource::GostCertificate})
        .Writing();
}

void CPassPlan::AddGostKeyPair()
{
    const Needs keyPair = {PassResource::Login, PassResource::GostKeyPair};
    Add("Trying to generate GOST key pair", &CTestsOperator::GenerateGostKeyPair)
        .Writing()
        .Providing(PassResource::GostKeyPair)
        .Using(CKM_GOSTR3410_KEY_PAIR_GEN, CKF_GENERATE_KEY_PAIR);
    Add("Trying to sign and verify data with GOST key", &CTestsOperator::SignAndVerifyWithGostKey, keyPair)
        .Using(CKM_GOSTR3410, CKF_SIGN | CKF_VERIFY);
    Add("Trying to generate GOST CSR", &CTestsOperator::GenerateGostCSR, keyPair);
    Add("Trying to delete GOST key pair", &CTestsOperator::DeleteGostKeyPair, keyPair).Writing();
}

void CPassPlan::AddGostSecretKey()
{
    const Needs secretKey = {PassResource::Login, PassResource::GostSecretKey};
    Add("Trying to generate GOST secret key", &CTestsOperator::GenerateGostSecretKey)
        .Writing()
        .Providing(PassResource::GostSecretKey)
        .Using(CKM_GOST28147_KEY_GEN, CKF_GENERATE);
    Add("Trying to delete GOST secret key", &CTestsOperator::DeleteGostSecretKey, secretKey)
        .Writing()
        .Qualified("generated");
    Add("Trying to store GOST secret key", &CTestsOperator::StoreGostSecretKey)
        .Writing()
        .Providing(PassResource::GostSecretKey)
        .UsingKey(CKK_GOST28147);
    Add("Trying to calculate and verify MAC with GOST secret key", &CTestsOperator::CalculateAndVerifyGostMac,
              secretKey)
        .Using(CKM_GOST28147_MAC, CKF_SIGN)
        .closingLine = "MAC is OK";
    Add("Trying to delete GOST secret key", &CTestsOperator::DeleteGostSecretKey, secretKey)
        .Writing()
        .Qualified("stored");
}

// The PIN tests leave a login behind them; when one fails, the login is in doubt.
void CPassPlan::AddPinChanges()
{
    CTestsOperator& tests = m_tests;
    for (const auto& test : {std::make_pair("Trying to change user PIN", CKU_USER),
                             std::make_pair("Trying to change SO PIN", CKU_SO)}) {
        const CK_USER_TYPE userType = test.second;
        Add(test.first,
            [&tests, userType] {
                tests.TestPinChange(userType);
                return true;
            })
            .Writing()
            .Providing(PassResource::Login);
    }
}

std::vector<CPassStep> CPassPlan::Steps(const CRunSettings& settings, CTestsOperator& tests, Logger& logger,
                                        const std::vector<unsigned char>& pin)
{
    // A login the token refuses is not an exception: the pass reports it and ends.
    const std::function<bool()> logIn = [&tests, &logger, &pin] {
        if (tests.Authenticate(pin, CKU_USER, CKF_RW_SESSION)) {
            return true;
        }
        logger.error("Can not authenticate into token using default PIN.");
        CErrorReport::Write(std::cout, CErrorReport::FailingCallLines(CModuleAnswers::Latest(CKR_PIN_INCORRECT)));
        return false;
    };

    CPassPlan plan(tests);
    if (settings.skipInitToken) {
        plan.AddMessage("Skipping token initialization");
    } else {
        plan.Add("Trying to perform init token using default PIN", &CTestsOperator::FormatToken, {}).Writing();
    }
    // The pass's logins open a read/write session.
    plan.Add("Logging in using default PIN", logIn, {}).Writing().Providing(PassResource::Login);
    if (!settings.skipCert) {
        plan.AddRsaCertificateImports();
    }
    plan.AddRsaKeyPair(1024, true);
    if (!settings.skip2048 && !settings.gostTests) {
        plan.AddRsaKeyPair(2048, false);
    }
    if (settings.gostTests) {
        if (!settings.skipCert) {
            plan.AddGostCertificateImports();
        }
        plan.AddGostKeyPair();
        plan.AddGostSecretKey();
    }
    plan.Add("Getting list of objects on token", &CTestsOperator::GetObjects);
    plan.AddPinChanges();
    plan.AddCleaning(logIn);
    return std::move(plan.m_steps);
}

// Cleaning runs in a user session of its own; these steps have no line.
void CPassPlan::AddCleaning(const std::function<bool()>& logIn)
{
    CTestsOperator& tests = m_tests;
    CPassStep& logout = Add("", &CTestsOperator::Logout);
    logout.name = "Logging out before cleaning";
    // After a failed PIN test nobody knows who is logged in: log out anyway.
    logout.whenBlocked = [&tests] {
        try {
            tests.Logout();
        } catch (const CPKCSException&) {
        }
    };
    Add("", logIn, {}).Writing().Providing(PassResource::Login).name = "Logging in again for cleaning";
    Add("Cleaning token", &CTestsOperator::CleanCard).Writing();
    Add("", &CTestsOperator::GetObjects).name = "Listing the objects left after cleaning";
    Add("Logging out of token", &CTestsOperator::CloseAllSessions, {});
}

std::vector<CK_MECHANISM_TYPE> CPassPlan::NeededMechanisms(const std::vector<CPassStep>& steps)
{
    std::vector<CK_MECHANISM_TYPE> types;
    for (const CPassStep& step : steps) {
        for (const CMechanismNeed& need : step.token.mechanisms) {
            if (std::find(types.begin(), types.end(), need.type) == types.end()) {
                types.push_back(need.type);
            }
        }
    }
    return types;
}
