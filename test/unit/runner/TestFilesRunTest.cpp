// Whole runs of the tokentest binary against the scripted fake module: the test files the
// options need are read before the module is loaded, so a run that would stop at one of
// them touches no token.
#include <filesystem>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ChildRun.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct MissingFileCase {
    const char* name;
    std::vector<std::string> removed;   // under conf/
    std::vector<std::string> arguments;
    // Empty: the run passes; otherwise the file the message names and the step's error.
    std::string file;
    std::string error;
};

class MissingTestFile : public ::testing::TestWithParam<MissingFileCase> {};

TEST_P(MissingTestFile, StopsBeforeTheModuleOrDoesNotMatter)
{
    ChildRun child;
    child.Script(HealthyToken());
    for (const std::string& name : GetParam().removed) {
        std::filesystem::remove(child.Root() + "/conf/" + name);
    }
    const ChildRun::Result result = child.Run(GetParam().arguments);
    if (GetParam().file.empty()) {
        EXPECT_EQ(result.status, 0) << result.out << result.err;
        EXPECT_THAT(result.out, Not(HasSubstr("Couldn't open")));
        return;
    }
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "INFO: Performing tests 1 times...\n"
                          "Couldn't open file '../conf/" + GetParam().file + "\"\r\nTry again.\r\n"
                          "ERROR: std::exception caught: " + GetParam().error + "\n");
    // The module was never loaded: no call at all, C_InitToken least of all.
    EXPECT_TRUE(result.calls.empty());
}

const char kP12Error[] = "Test file in PKCS#12 format was not found. Terminating...";
const char kDerError[] = "Test X.509 DER certificate was not found. Terminating...";
const char kPemError[] = "Test X.509 Base64 certificate was not found. Terminating...";
const std::vector<std::string> kAll{"clientTest2.p12", "ca.cer", "ca.crt", "clientGostA.p12", "ca_gost.crt", "ca_gost.cer"};

INSTANTIATE_TEST_SUITE_P(
    Files, MissingTestFile,
    ::testing::Values(
        MissingFileCase{"AllDefault", kAll, {}, "clientTest2.p12", kP12Error},
        MissingFileCase{"RsaPem", {"ca.cer"}, {}, "ca.cer", kPemError},
        MissingFileCase{"RsaDer", {"ca.crt"}, {"--gost"}, "ca.crt", kDerError},
        MissingFileCase{"GostP12", {"clientGostA.p12", "ca_gost.crt"}, {"--gost"}, "clientGostA.p12", kP12Error},
        MissingFileCase{"GostDer", {"ca_gost.crt"}, {"--gost"}, "ca_gost.crt", kDerError},
        // Files no step of the chosen options reads.
        MissingFileCase{"GostFilesWithoutGost", {"clientGostA.p12", "ca_gost.crt"}, {}, "", ""},
        MissingFileCase{"GostPemNeverRead", {"ca_gost.cer"}, {"--gost"}, "", ""},
        MissingFileCase{"AllWithSkipCert", kAll, {"--skip-cert", "--gost"}, "", ""},
        MissingFileCase{"AllWithoutPasses", kAll, {"--passes=0"}, "", ""}),
    [](const ::testing::TestParamInfo<MissingFileCase>& info) { return std::string(info.param.name); });

TEST(TestFileRun, FileOverOneMebibyteStopsTheRunBeforeTheModule)
{
    ChildRun child;
    child.Script(HealthyToken());
    std::filesystem::resize_file(child.Root() + "/conf/ca.crt", (1u << 20) + 1);
    const ChildRun::Result result = child.Run({});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, std::string("INFO: Performing tests 1 times...\n"
                                      "Couldn't open file '../conf/ca.crt\"\r\nTry again.\r\n"
                                      "ERROR: std::exception caught: ") +
                              kDerError + "\n");
    EXPECT_TRUE(result.calls.empty());
}

TEST(TestFileRun, CertificateWithoutMarkersStopsTheRunBeforeTheModule)
{
    ChildRun child;
    child.Script(HealthyToken());
    std::filesystem::resize_file(child.Root() + "/conf/ca.cer", 0);
    const ChildRun::Result result = child.Run({});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, std::string("INFO: Performing tests 1 times...\nERROR: std::exception caught: ") + kPemError +
                              "\n");
    EXPECT_TRUE(result.calls.empty());
}

}  // namespace
