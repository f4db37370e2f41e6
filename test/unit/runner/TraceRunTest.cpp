// The --trace of whole runs against the scripted fake module: one line per call the module
// saw, in its order and with the result it gave, and no PIN or key bytes anywhere.
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ChildRun.h"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using Lines = std::vector<std::string>;

struct Traced {
    Lines names;
    Lines results;
};

// Function names and result names of the trace lines: "C_X(...) = CKR_Y (0.012 ms)".
Traced ReadTrace(const std::string& err)
{
    Traced traced;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("C_", 0) != 0) {
            continue;
        }
        traced.names.push_back(line.substr(0, line.find('(')));
        const size_t result = line.rfind(") = ");
        const size_t duration = line.rfind(" (");
        traced.results.push_back(result != std::string::npos && duration > result
                                     ? line.substr(result + 4, duration - result - 4)
                                     : "");
    }
    return traced;
}

// The entry names and results of the fake's log, without C_GetFunctionList: the loader calls
// it through the symbol, before there is a list to trace.
Traced ReadFakeLog(const ChildRun::Result& result)
{
    Traced logged;
    for (const std::string& line : result.logLines) {
        const std::string name = line.substr(0, line.find(' '));
        if (name == "C_GetFunctionList") {
            continue;
        }
        const size_t rv = line.find(" rv=") + 4;
        logged.names.push_back(name);
        logged.results.push_back(line.substr(rv, line.find(' ', rv) - rv));
    }
    return logged;
}

struct TraceCase {
    std::string name;
    Lines arguments;
    std::string script;
    // The vendor entries are done by the standard-call layer: traced, but never in the module.
    bool vendorInLayer = false;
};

Traced WithoutVendorEntries(const Traced& traced)
{
    Traced kept;
    for (size_t i = 0; i < traced.names.size(); ++i) {
        if (traced.names[i].rfind("C_KTL_", 0) != 0) {
            kept.names.push_back(traced.names[i]);
            kept.results.push_back(traced.results[i]);
        }
    }
    return kept;
}

void PrintTo(const TraceCase& c, std::ostream* out) { *out << c.name; }

class TraceRun : public ::testing::TestWithParam<TraceCase> {
protected:
    ChildRun::Result RunTraced()
    {
        child.Script(HealthyToken() + GetParam().script);
        Lines arguments = GetParam().arguments;
        arguments.push_back("--trace");
        return child.Run(arguments);
    }

    ChildRun child;
};

TEST_P(TraceRun, EveryCallTheModuleSawIsTracedOnceWithItsResult)
{
    const ChildRun::Result result = RunTraced();
    const Traced all = ReadTrace(result.err);
    const Traced traced = GetParam().vendorInLayer ? WithoutVendorEntries(all) : all;
    const Traced logged = ReadFakeLog(result);
    if (GetParam().vendorInLayer) {
        EXPECT_THAT(all.names, Contains("C_KTL_LoadCert"));
    }
    ASSERT_GT(logged.names.size(), 10u) << result.out << result.err;
    EXPECT_EQ(traced.names, logged.names) << result.err;
    EXPECT_EQ(traced.results, logged.results);
    EXPECT_THAT(result.out, Not(HasSubstr("C_Initialize("))) << "the trace goes to standard error only";
}

TEST_P(TraceRun, NoPinOrKeyBytesAppear)
{
    const ChildRun::Result result = RunTraced();
    ASSERT_THAT(result.err, HasSubstr("C_Login("));
    // The default and the temporary PIN, as text and as hexadecimal bytes, and the start of
    // the stored GOST 28147-89 key.
    for (const char* secret : {"52816037", "26074913", "3532383136303337", "3236303734393133", "2c1a7f3e"}) {
        EXPECT_THAT(result.err, Not(HasSubstr(secret))) << secret;
    }
    std::istringstream lines(result.err);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("C_Login(", 0) == 0 || line.rfind("C_SetPIN(", 0) == 0 || line.rfind("C_InitToken(", 0) == 0) {
            EXPECT_THAT(line, HasSubstr("***[8 bytes]")) << line;
        }
        if (line.rfind("C_KTL_LoadCert(", 0) == 0) {
            EXPECT_THAT(line, HasSubstr("***[6 bytes], ***[3 bytes]")) << line;
        }
        if (line.rfind("C_CreateObject(", 0) == 0) {
            EXPECT_THAT(line, HasSubstr("CKA_VALUE=***[32 bytes]")) << line;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, TraceRun,
    ::testing::Values(TraceCase{"GostPass", {"--gost"}, ""},
                      TraceCase{"StandardCalls", {"--gost", "--standard-calls"}, "", true},
                      TraceCase{"FailingMidway", {"--gost"}, "fail C_GenerateKey CKR_DEVICE_ERROR\n"}),
    [](const ::testing::TestParamInfo<TraceCase>& info) { return info.param.name; });

TEST(TraceRunOutput, WithoutTheOptionNothingIsTraced)
{
    ChildRun child;
    child.Script(HealthyToken());
    const ChildRun::Result result = child.Run({"--skip-cert"});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
}

}  // namespace
