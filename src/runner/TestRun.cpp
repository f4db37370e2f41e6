#include "runner/TestRun.h"

#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>

#include "runner/KeepGoingPass.h"
#include "runner/PassPlan.h"
#include "runner/PassSequence.h"
#include "runner/StepVerdicts.h"
#include "runner/TestFiles.h"
#include "runner/TokenLock.h"
#include "support/InterruptSignals.h"
#include "runner/RunIdentity.h"
#include "support/Logger.h"
#include "support/StateDirectory.h"
#include "tests/PinJournal.h"
#include "tests/TestsOperator.h"
#include "token/TokenCapabilities.h"

CTestRun::CTestRun(const CRunSettings& settings, CJunitReport* report) : m_settings(settings), m_report(report) {}

std::string CTestRun::ElapsedText(std::clock_t start, std::clock_t end)
{
    const std::clock_t ticks = end - start;
    const float seconds = static_cast<float>(ticks) / 1000000.0f;
    std::ostringstream text;
    text << static_cast<double>(seconds);
    return text.str();
}

CModuleOptions CTestRun::ModuleOptions() const
{
    return CModuleOptions{m_settings.modulePath, m_settings.standardCalls, m_settings.trace, m_settings.initArgs};
}

int CTestRun::ListSlots()
{
    CTestsOperator tests(ModuleOptions());
    tests.ListSlots();
    return kStatusOk;
}

bool CTestRun::TakeToken(Logger& logger, CTestsOperator& tests, std::optional<CTokenLock>& lock,
                         std::optional<CPinJournal>& journal)
{
    CInterruptSignals::ThrowIfPending();
    std::string error;
    if (!CStateDirectory::Create(error)) {
        std::cerr << "warning: no token lock and no PIN journal: " << error << "\n" << std::flush;
        return true;
    }
    const std::string directory = CStateDirectory::Path();
    const CPinJournal::Entry token = tests.CurrentToken();
    lock.emplace(CStateDirectory::TokenFile(directory, token.serial, ".lock"));
    if (lock->Busy()) {
        logger.error("another tokentest run is testing the token with serial number \"" + token.serial + "\" (label \"" +
                     token.label + "\"); not touching it");
        return false;
    }
    if (!lock->Held()) {
        std::cerr << "warning: the token is not locked against other runs: " << lock->Error() << "\n" << std::flush;
    }
    journal.emplace(directory);
    tests.SetPinJournal(&*journal);
    if (const std::optional<CPinJournal::Entry> entry = journal->Find(token.serial, token.label)) {
        tests.RecoverTemporaryPin(*entry);
    }
    return true;
}

void CTestRun::ReportRun()
{
    if (m_report != nullptr) {
        m_report->SetProperty("tokentest.version", TOKENTEST_VERSION);
        m_report->SetProperty("tokentest.options", m_settings.OptionsText());
    }
}

void CTestRun::ReportModule(CTestsOperator& tests)
{
    if (m_report != nullptr) {
        CRunIdentity::AddModule(*m_report, tests);
    }
}

void CTestRun::ReportChosenSlot(CTestsOperator& tests)
{
    if (m_report == nullptr) {
        return;
    }
    CRunIdentity::AddToken(*m_report, tests);
    // A run without passes must not read as an empty success.
    if (m_settings.passes <= 0) {
        m_report->SkipSlotSearch("no pass was asked for (" + std::to_string(m_settings.passes) + " passes)");
    }
}

int CTestRun::Run()
{
    if (m_settings.listSlots) {
        return ListSlots();
    }
    // Declared before the tests operator, so the token stays locked until it is torn down.
    std::optional<CTokenLock> lock;
    std::optional<CPinJournal> journal;
    Logger logger;
    const std::string announcement = "Performing tests " + std::to_string(m_settings.passes) + " times...";
    logger.info(announcement);

    CTestFiles::Check(m_settings);
    ReportRun();
    CTestsOperator tests(ModuleOptions());
    ReportModule(tests);
    tests.SetConfDir(m_settings.TestFileDir());
    tests.SetPins(CTestPins(m_settings.soPin, m_settings.userPin));
    if (tests.UsesStandardCalls()) {
        logger.info(tests.ModuleHasVendorEntries() ? "Using standard PKCS#11 calls instead of the module's vendor extensions"
                                                   : "Module has no vendor extensions: using standard PKCS#11 calls");
    }
    if (m_settings.slotId) {
        tests.UseSlot(*m_settings.slotId);
    }
    if (!m_settings.tokenLabel.empty() || !m_settings.tokenSerial.empty()) {
        tests.UseToken(CTokenIdentity(m_settings.tokenLabel, m_settings.tokenSerial));
    }
    if (!tests.SelectSlot()) {
        const std::string noToken = "No tokens available. Please insert one. Terminating...";
        logger.error(noToken);
        if (m_report != nullptr) {
            m_report->FailSlotSearch("ERROR: " + noToken);
        }
        return kStatusNoToken;
    }
    ReportChosenSlot(tests);
    if (!TakeToken(logger, tests, lock, journal)) {
        return kStatusFailure;
    }
    if (m_settings.keepGoing && m_settings.passes > 0) {
        return RunKeepingGoing(tests, logger);
    }
    return RunPasses(tests, [](CPassSequence& sequence) { return sequence.Run(); }, logger);
}

int CTestRun::RunPasses(CTestsOperator& tests, const std::function<bool(CPassSequence&)>& runPass, Logger& logger)
{
    for (int64_t pass = 1; pass <= m_settings.passes; ++pass) {
        CInterruptSignals::ThrowIfPending();
        const std::clock_t start = std::clock();
        std::cout << "---------- Pass #" << pass << " ----------" << "\n" << std::flush;
        if (m_report != nullptr) {
            m_report->BeginPass(pass);
        }
        CPassSequence sequence(logger, tests, m_settings);
        if (!runPass(sequence)) {
            return kStatusPinRefused;
        }
        if (m_report != nullptr) {
            m_report->EndPass();
        }
        std::cout << "Time passed: ";
        const std::clock_t end = std::clock();
        std::cout << ElapsedText(start, end) << "\n" << std::flush;
    }
    return kStatusOk;
}

int CTestRun::RunKeepingGoing(CTestsOperator& tests, Logger& logger)
{
    std::vector<std::string> notes;
    const std::vector<unsigned char> noPin;
    const std::vector<CK_MECHANISM_TYPE> mechanisms =
        CPassPlan::NeededMechanisms(CPassSequence(logger, tests, m_settings).Steps(noPin));
    const CTokenCapabilities capabilities =
        CTokenCapabilities::Read(tests.FunctionList(), tests.CurrentSlot(), mechanisms, notes);
    for (const std::string& note : notes) {
        logger.info(note);
    }
    if (m_report != nullptr) {
        m_report->NameStepsExplicitly();
    }
    CStepVerdicts verdicts;
    const int status = RunPasses(
        tests,
        [&](CPassSequence& sequence) {
            verdicts.BeginPass();
            CKeepGoingPass pass(logger, capabilities, verdicts, m_report);
            return sequence.Run(pass);
        },
        logger);
    if (m_report != nullptr) {
        m_report->EndPass();
    }
    verdicts.WriteSummary(logger);
    if (status != kStatusOk) {
        return status;
    }
    return verdicts.AnyFailed() ? kStatusFailure : kStatusOk;
}
