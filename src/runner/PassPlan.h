#pragma once
// The table of one pass's steps, in their order, for the groups the run settings choose;
// each step calls one operation of the tests operator. Built only through Steps.
#include <functional>
#include <string>
#include <vector>

#include "runner/PassStep.h"
#include "runner/RunSettings.h"
#include "support/Logger.h"
#include "tests/TestsOperator.h"

class CPassPlan {
public:
    // The steps keep references to the arguments: they must outlive the steps. `pin` is
    // what the logins of the pass send.
    static std::vector<CPassStep> Steps(const CRunSettings& settings, CTestsOperator& tests, Logger& logger,
                                        const std::vector<unsigned char>& pin);
    // Every mechanism some step of any pass may need, for reading their information once.
    static std::vector<CK_MECHANISM_TYPE> NeededMechanisms(const std::vector<CPassStep>& steps);

private:
    explicit CPassPlan(CTestsOperator& tests);

    // Each appends one step; the reference lasts until the next one is added.
    CPassStep& Add(const std::string& announcement, void (CTestsOperator::*operation)(),
                   std::vector<PassResource> needs = {PassResource::Login});
    CPassStep& Add(const std::string& announcement, std::function<bool()> run,
                   std::vector<PassResource> needs = {PassResource::Login});
    void AddMessage(const std::string& line);

    void AddRsaCertificateImports();
    void AddRsaKeyPair(int bits, bool withCsr);
    void AddGostCertificateImports();
    void AddGostKeyPair();
    void AddGostSecretKey();
    void AddPinChanges();
    void AddCleaning(const std::function<bool()>& logIn);

    CTestsOperator& m_tests;
    std::vector<CPassStep> m_steps;
};
