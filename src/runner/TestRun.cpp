#include "runner/TestRun.h"

#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>

#include "runner/PassSequence.h"
#include "runner/RunIdentity.h"
#include "support/Logger.h"
#include "tests/TestsOperator.h"

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
    return CModuleOptions{m_settings.modulePath, m_settings.standardCalls, m_settings.trace};
}

int CTestRun::ListSlots()
{
    CTestsOperator tests(ModuleOptions());
    tests.ListSlots();
    return kStatusOk;
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
    Logger logger;
    const std::string announcement = "Performing tests " + std::to_string(m_settings.passes) + " times...";
    logger.info(announcement);

    ReportRun();
    CTestsOperator tests(ModuleOptions());
    ReportModule(tests);
    tests.SetConfDir(m_settings.TestFileDir());
    if (tests.UsesStandardCalls()) {
        logger.info(tests.ModuleHasVendorEntries() ? "Using standard PKCS#11 calls instead of the module's vendor extensions"
                                                   : "Module has no vendor extensions: using standard PKCS#11 calls");
    }
    if (m_settings.slotId) {
        tests.UseSlot(*m_settings.slotId);
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
    for (int64_t pass = 1; pass <= m_settings.passes; ++pass) {
        const std::clock_t start = std::clock();
        std::cout << "---------- Pass #" << pass << " ----------" << "\n" << std::flush;
        if (m_report != nullptr) {
            m_report->BeginPass(pass);
        }
        CPassSequence sequence(logger, tests, m_settings);
        if (!sequence.Run()) {
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
