#include "runner/PassPlan.h"

#include <algorithm>
#include <utility>

#include "support/PKCSException.h"

namespace {

using Needs = std::vector<PassResource>;

// Builds the table in order; each Add* appends one step.
class StepTable {
public:
    explicit StepTable(CTestsOperator& tests) : m_tests(tests) {}

    // A step that always completes or throws.
    CPassStep& Add(const std::string& announcement, void (CTestsOperator::*operation)(), Needs needs = {PassResource::Login})
    {
        CTestsOperator& tests = m_tests;
        return Add(announcement, [&tests, operation] {
            (tests.*operation)();
            return true;
        }, std::move(needs));
    }

    CPassStep& Add(const std::string& announcement, std::function<bool()> run, Needs needs = {PassResource::Login})
    {
        CPassStep step;
        step.announcement = announcement;
        step.name = announcement;
        step.run = std::move(run);
        step.needs = std::move(needs);
        m_steps.push_back(std::move(step));
        return m_steps.back();
    }

    void AddMessage(const std::string& line)
    {
        CPassStep step;
        step.announcement = line;
        step.name = line;
        m_steps.push_back(std::move(step));
    }

    std::vector<CPassStep> Take() { return std::move(m_steps); }

private:
    CTestsOperator& m_tests;
    std::vector<CPassStep> m_steps;
};

CPassStep& Named(CPassStep& step, const std::string& qualifier)
{
    step.name = step.announcement + " (" + qualifier + ")";
    return step;
}

CPassStep& Provides(CPassStep& step, PassResource resource)
{
    step.provides = resource;
    return step;
}

CPassStep& Writes(CPassStep& step)
{
    step.token.writes = true;
    return step;
}

CPassStep& UsesKey(CPassStep& step, CK_KEY_TYPE keyType)
{
    step.token.keyType = keyType;
    return step;
}

CPassStep& Uses(CPassStep& step, CK_MECHANISM_TYPE type, CK_FLAGS flags, CK_ULONG keyBits = 0)
{
    step.token.mechanisms.push_back(CMechanismNeed{type, flags, keyBits});
    return step;
}

void AddRsaCertificateImports(StepTable& table)
{
    Writes(UsesKey(table.Add("Trying to load test RSA certificate and private key from PKCS#12 file",
                             &CTestsOperator::LoadRsaCertificateWithKey),
                   CKK_RSA));
    Writes(Provides(table.Add("Trying to load test X509 RSA certificate from Base64 file",
                              &CTestsOperator::LoadRsaCertificateBase64),
                    PassResource::RsaCertificate));
    Writes(Named(table.Add("Trying to delete test X509 RSA certificate", &CTestsOperator::DeleteRsaCertificate,
                           {PassResource::Login, PassResource::RsaCertificate}),
                 "Base64"));
    Writes(Provides(
        table.Add("Trying to load test X509 RSA certificate from DER file", &CTestsOperator::LoadRsaCertificateDER),
        PassResource::RsaCertificate));
    Writes(Named(table.Add("Trying to delete test X509 RSA certificate", &CTestsOperator::DeleteRsaCertificate,
                           {PassResource::Login, PassResource::RsaCertificate}),
                 "DER"));
}

void AddRsaKeyPair(StepTable& table, CTestsOperator& tests, int bits, bool withCsr)
{
    const std::string size = "RSA " + std::to_string(bits);
    const Needs keyPair = {PassResource::Login, PassResource::RsaKeyPair};
    Writes(Uses(Provides(table.Add("Trying to generate RSA " + std::to_string(bits) + " key pair",
                                   [&tests, bits] {
                                       tests.GenerateRsaKeyPair(bits);
                                       return true;
                                   }),
                         PassResource::RsaKeyPair),
                CKM_RSA_PKCS_KEY_PAIR_GEN, CKF_GENERATE_KEY_PAIR, static_cast<CK_ULONG>(bits)));
    Uses(Named(table.Add("Trying to sign and verify data with RSA key", &CTestsOperator::SignAndVerifyWithRsaKey,
                         keyPair),
               size),
         CKM_RSA_PKCS, CKF_SIGN | CKF_VERIFY);
    if (withCsr) {
        table.Add("Trying to generate CSR for RSA key", &CTestsOperator::GenerateRsaCSR, keyPair);
    }
    Writes(Named(table.Add("Trying to delete RSA key pair", &CTestsOperator::DeleteRsaKeyPair, keyPair), size));
}

void AddGostCertificateImports(StepTable& table)
{
    Writes(UsesKey(table.Add("Trying to load test GOST certificate and private key from PKCS#12 file",
                             &CTestsOperator::LoadGostCertificateWithKey),
                   CKK_GOSTR3410));
    Writes(Provides(
        table.Add("Trying to load test X509 GOST certificate from DER file", &CTestsOperator::LoadGostCertificateDER),
        PassResource::GostCertificate));
    Writes(table.Add("Trying to delete test X509 GOST certificate", &CTestsOperator::DeleteGostCertificate,
                     {PassResource::Login, PassResource::GostCertificate}));
}

void AddGostKeyPair(StepTable& table)
{
    const Needs keyPair = {PassResource::Login, PassResource::GostKeyPair};
    Writes(Uses(Provides(table.Add("Trying to generate GOST key pair", &CTestsOperator::GenerateGostKeyPair),
                         PassResource::GostKeyPair),
                CKM_GOSTR3410_KEY_PAIR_GEN, CKF_GENERATE_KEY_PAIR));
    Uses(table.Add("Trying to sign and verify data with GOST key", &CTestsOperator::SignAndVerifyWithGostKey, keyPair),
         CKM_GOSTR3410, CKF_SIGN | CKF_VERIFY);
    table.Add("Trying to generate GOST CSR", &CTestsOperator::GenerateGostCSR, keyPair);
    Writes(table.Add("Trying to delete GOST key pair", &CTestsOperator::DeleteGostKeyPair, keyPair));
}

void AddGostSecretKey(StepTable& table)
{
    const Needs secretKey = {PassResource::Login, PassResource::GostSecretKey};
    Writes(Uses(Provides(table.Add("Trying to generate GOST secret key", &CTestsOperator::GenerateGostSecretKey),
                         PassResource::GostSecretKey),
                CKM_GOST28147_KEY_GEN, CKF_GENERATE));
    Writes(Named(table.Add("Trying to delete GOST secret key", &CTestsOperator::DeleteGostSecretKey, secretKey),
                 "generated"));
    Writes(UsesKey(Provides(table.Add("Trying to store GOST secret key", &CTestsOperator::StoreGostSecretKey),
                            PassResource::GostSecretKey),
                   CKK_GOST28147));
    CPassStep& mac = Uses(table.Add("Trying to calculate and verify MAC with GOST secret key",
                                    &CTestsOperator::CalculateAndVerifyGostMac, secretKey),
                          CKM_GOST28147_MAC, CKF_SIGN);
    mac.closingLine = "MAC is OK";
    Writes(Named(table.Add("Trying to delete GOST secret key", &CTestsOperator::DeleteGostSecretKey, secretKey),
                 "stored"));
}

// The PIN tests leave a login behind them; when one fails, the login is in doubt.
void AddPinChanges(StepTable& table, CTestsOperator& tests)
{
    Writes(Provides(table.Add("Trying to change user PIN",
                              [&tests] {
                                  tests.TestPinChange(CKU_USER);
                                  return true;
                              }),
                    PassResource::Login));
    Writes(Provides(table.Add("Trying to change SO PIN",
                              [&tests] {
                                  tests.TestPinChange(CKU_SO);
                                  return true;
                              }),
                    PassResource::Login));
}

}  // namespace

std::vector<CPassStep> CPassPlan::Steps(const CRunSettings& settings, CTestsOperator& tests, Logger& logger,
                                        const std::vector<unsigned char>& pin)
{
    // A login the token refuses is not an exception: the pass reports it and ends.
    const auto logIn = [&tests, &logger, &pin] {
        if (tests.Authenticate(pin, CKU_USER, CKF_RW_SESSION)) {
            return true;
        }
        logger.error("Can not authenticate into token using default PIN.");
        return false;
    };

    StepTable table(tests);
    if (settings.skipInitToken) {
        table.AddMessage("Skipping token initialization");
    } else {
        Writes(table.Add("Trying to perform init token using default PIN", &CTestsOperator::FormatToken, {}));
    }
    // The pass's logins open a read/write session.
    Writes(Provides(table.Add("Logging in using default PIN", logIn, {}), PassResource::Login));
    if (!settings.skipCert) {
        AddRsaCertificateImports(table);
    }
    AddRsaKeyPair(table, tests, 1024, true);
    if (!settings.skip2048 && !settings.gostTests) {
        AddRsaKeyPair(table, tests, 2048, false);
    }
    if (settings.gostTests) {
        if (!settings.skipCert) {
            AddGostCertificateImports(table);
        }
        AddGostKeyPair(table);
        AddGostSecretKey(table);
    }
    table.Add("Getting list of objects on token", &CTestsOperator::GetObjects);
    AddPinChanges(table, tests);

    // Cleaning runs in a user session of its own; these steps have no line.
    CPassStep& logout = table.Add("", &CTestsOperator::Logout);
    logout.name = "Logging out before cleaning";
    // After a failed PIN test nobody knows who is logged in: log out anyway.
    logout.whenBlocked = [&tests] {
        try {
            tests.Logout();
        } catch (const CPKCSException&) {
        }
    };
    Writes(Provides(table.Add("", logIn, {}), PassResource::Login)).name = "Logging in again for cleaning";
    Writes(table.Add("Cleaning token", &CTestsOperator::CleanCard));
    table.Add("", &CTestsOperator::GetObjects).name = "Listing the objects left after cleaning";
    table.Add("Logging out of token", &CTestsOperator::CloseAllSessions, {});
    return table.Take();
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
