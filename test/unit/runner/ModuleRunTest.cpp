// Whole runs of the tokentest binary that choose the module and how its vendor steps are done:
// --module, a module without vendor entries, --standard-calls.
#include <algorithm>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ChildRun.h"
#include "tokentest/VendorFunctionList.h"

namespace {

using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::Eq;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const char kModulePath[] = FAKE_MODULE_DIR "/libnimb_pkcs11_main.so";
const char kNoEntriesLine[] = "INFO: Module has no vendor extensions: using standard PKCS#11 calls\n";
const char kForcedLine[] = "INFO: Using standard PKCS#11 calls instead of the module's vendor extensions\n";

bool CallsAnyVendorEntry(const std::vector<std::string>& calls)
{
    return std::any_of(calls.begin(), calls.end(), [](const std::string& call) { return call.rfind("C_KTL_", 0) == 0; });
}

TEST(ModuleRun, ModulePathIsLoadedWithoutTheLoaderPath)
{
    ChildRun child;
    child.WithoutModule();
    child.Script(HealthyToken());
    const ChildRun::Result result = child.Run({std::string("--module=") + kModulePath, "--skip-cert"});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_THAT(result.out, StartsWith("INFO: Performing tests 1 times...\nSelected slot: Fake reader\r\n"));
    EXPECT_THAT(result.calls, Contains("C_KTL_CreateCSR"));
}

TEST(ModuleRun, UnloadableModulePathEndsWith1AndTheLoaderText)
{
    ChildRun child;
    const ChildRun::Result result = child.Run({"--module=" + child.Root() + "/conf/none.so"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "INFO: Performing tests 1 times...\n");
    EXPECT_EQ(result.err, child.Root() + "/conf/none.so: cannot open shared object file: No such file or directory\n");
    EXPECT_TRUE(result.calls.empty());
}

std::string Hex(const std::string& text)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : text) {
        hex += digits[c >> 4];
        hex += digits[c & 0x0F];
    }
    return hex;
}

// --init-args hands C_Initialize the text in pReserved with OS locking; without it the
// argument stays null.
TEST(ModuleRun, InitArgsReachCInitializeInPReserved)
{
    const std::string text = "configdir='sql:/tmp/db' certPrefix='' keyPrefix='' secmod='secmod.db' flags=";
    for (const bool given : {true, false}) {
        ChildRun child;
        child.Script(HealthyToken());
        std::vector<std::string> arguments = {"--passes=0"};
        if (given) {
            arguments.push_back("--init-args=" + text);
        }
        const ChildRun::Result result = child.Run(arguments);
        EXPECT_EQ(result.status, 0) << result.out << result.err;
        const std::string expected = given ? "C_Initialize rv=CKR_OK args=1,2 bufs=" + Hex(text) : "C_Initialize rv=CKR_OK args=0";
        EXPECT_THAT(result.logLines, Contains(expected));
    }
}

// A library that loads but gives no function list ends like one that cannot be loaded: the
// failure's report, then a line naming the module and what it lacks.
struct BrokenLibrary {
    const char* name;
    const char* path;
    const char* report;
    const char* lack;
};

void PrintTo(const BrokenLibrary& library, std::ostream* out) { *out << library.name; }

class BrokenLibraryRun : public ::testing::TestWithParam<BrokenLibrary> {};

TEST_P(BrokenLibraryRun, EndsWithStatus1AndNamesTheModule)
{
    const BrokenLibrary& library = GetParam();
    ChildRun child;
    child.WithoutModule();
    const ChildRun::Result result = child.Run({std::string("--module=") + library.path});
    EXPECT_EQ(result.status, 1) << result.out << result.err;
    EXPECT_EQ(result.out, std::string("INFO: Performing tests 1 times...\n") + library.report + "\nERROR: " +
                              library.path + " is not a usable PKCS#11 module: " + library.lack + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, BrokenLibraryRun,
    ::testing::Values(
        BrokenLibrary{"NoFunctionList", FAKE_NO_FUNCTION_LIST_DIR "/libnimb_pkcs11_main.so",
                      "ERROR: std::exception caught: Function \"C_GetFunctionList\" was not found in PKCS library.",
                      "it has no C_GetFunctionList"},
        BrokenLibrary{"FailingFunctionList", FAKE_FAILING_FUNCTION_LIST_DIR "/libnimb_pkcs11_main.so",
                      "PKCS ERROR in CTokenOperator::InitPkcsFunctionList : CKR_FUNCTION_FAILED",
                      "its C_GetFunctionList failed"},
        BrokenLibrary{"NullFunctionList", FAKE_NULL_FUNCTION_LIST_DIR "/libnimb_pkcs11_main.so",
                      "ERROR: std::exception caught: Function \"C_GetFunctionList\" returned no function list.",
                      "its C_GetFunctionList gave no function list"}),
    [](const ::testing::TestParamInfo<BrokenLibrary>& info) { return std::string(info.param.name); });

// Whatever follows the module's list, the run says once that it uses standard calls, never
// calls a word it found there, and ends with a status of its own.
class WordsAfterTheList : public ::testing::TestWithParam<const char*> {};

TEST_P(WordsAfterTheList, AreNeverCalled)
{
    ChildRun child;
    child.Script(HealthyToken() + "vendor-words " + GetParam() + "\n");
    const ChildRun::Result result = child.Run({"--passes=2"});
    EXPECT_THAT(result.status, AnyOf(Eq(0), Eq(2))) << result.out << result.err;
    EXPECT_THAT(result.out, StartsWith(std::string("INFO: Performing tests 2 times...\n") + kNoEntriesLine +
                                       "Selected slot: Fake reader\r\n"));
    EXPECT_FALSE(CallsAnyVendorEntry(result.calls));
    EXPECT_EQ(result.calls.back(), "C_Finalize");
}

INSTANTIATE_TEST_SUITE_P(Module, WordsAfterTheList, ::testing::Values("null", "garbage", "pkcs11-3"));

const char* const kPkcs11v3Entries[] = {"C_GetInterfaceList", "C_GetInterface", "C_LoginUser", "C_SessionCancel",
                                        "C_MessageEncryptInit"};

// A 3.0 list is followed by the 3.0 entries, code of the module itself: none is taken for a
// vendor entry. The fake cannot make a CSR with standard calls, so the pass stops there.
TEST(ModuleRun, Pkcs11v3ListHasNoVendorEntries)
{
    ChildRun child;
    child.Script(HealthyToken() + "vendor-words pkcs11-3\n");
    ChildRun::Result result = child.Run({"--passes=0"});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.out, std::string("INFO: Performing tests 0 times...\n") + kNoEntriesLine +
                              "Selected slot: Fake reader\r\n");

    result = child.Run({"--skip-cert"});
    EXPECT_THAT(result.out, HasSubstr("INFO: Trying to sign and verify data with RSA key\n"));
    EXPECT_FALSE(CallsAnyVendorEntry(result.calls));
    for (const char* entry : kPkcs11v3Entries) {
        EXPECT_THAT(result.calls, Not(Contains(entry))) << entry;
    }
}

// A module that exports C_GetInterface has vendor entries only as its named interface:
// whatever lies after its list is never looked at.
struct PublishedInterfaces {
    const char* name;
    const char* script;
    bool vendorSteps;
};

void PrintTo(const PublishedInterfaces& c, std::ostream* out) { *out << c.name; }

class InterfacesRun : public ::testing::TestWithParam<PublishedInterfaces> {};

TEST_P(InterfacesRun, VendorEntriesComeOnlyFromTheVendorInterface)
{
    const PublishedInterfaces& c = GetParam();
    ChildRun child;
    child.WithoutModule();
    child.Script(HealthyToken() + c.script);
    const ChildRun::Result result =
        child.Run({std::string("--module=") + FAKE_INTERFACES_DIR + "/libnimb_pkcs11_main.so", "--skip-cert"});
    EXPECT_THAT(result.logLines, Contains("C_GetInterface rv=" + std::string(c.vendorSteps ? "CKR_OK" : "CKR_ARGUMENTS_BAD") +
                                          " args=0 bufs=" + Hex(kKtlVendorInterfaceName)));
    EXPECT_EQ(CallsAnyVendorEntry(result.calls), c.vendorSteps);
    if (c.vendorSteps) {
        EXPECT_EQ(result.status, 0) << result.out << result.err;
        EXPECT_THAT(result.out, Not(HasSubstr(kNoEntriesLine)));
        EXPECT_THAT(result.calls, Contains("C_KTL_CreateCSR"));
    } else {
        EXPECT_THAT(result.out, HasSubstr(kNoEntriesLine));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Module, InterfacesRun,
    ::testing::Values(PublishedInterfaces{"VendorInterfaceWithGarbageAfterTheList",
                                          "vendor-interface\nvendor-words garbage\n", true},
                      PublishedInterfaces{"VendorInterfaceAfterA3List", "vendor-interface\nvendor-words pkcs11-3\n", true},
                      PublishedInterfaces{"OnlyTheStandardInterface", "", false}),
    [](const ::testing::TestParamInfo<PublishedInterfaces>& info) { return std::string(info.param.name); });

// A token that shows its user PIN initialised after C_InitToken and still refuses the user's
// login for want of it: the SO sets it and the pass goes on.
TEST(ModuleRun, UserPinNotInitializedAfterInitTokenIsSetByTheSo)
{
    ChildRun child;
    child.Script(HealthyToken() + "fail C_Login CKR_USER_PIN_NOT_INITIALIZED once\n");
    const ChildRun::Result result = child.Run({});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_THAT(result.logLines, Contains(HasSubstr("C_InitPIN rv=CKR_OK")));
    EXPECT_THAT(result.out, HasSubstr("---------- Pass #1 ----------\nINFO: Trying to perform init token using default "
                                      "PIN\nINFO: Logging in using default PIN\nINFO: Trying to load test RSA"));
}

TEST(ModuleRun, StandardCallsAreForcedOnAModuleWithEntries)
{
    ChildRun child;
    child.Script(HealthyToken());
    const ChildRun::Result result = child.Run({"--standard-calls", "--passes=0"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, std::string("INFO: Performing tests 0 times...\n") + kForcedLine +
                              "Selected slot: Fake reader\r\n");
}

TEST(ModuleRun, VendorModuleRunSaysNothingAboutStandardCalls)
{
    ChildRun child;
    child.Script(HealthyToken());
    const ChildRun::Result result = child.Run({"--skip-cert"});
    EXPECT_EQ(result.status, 0);
    EXPECT_THAT(result.out, Not(HasSubstr("standard PKCS#11 calls")));
    EXPECT_TRUE(CallsAnyVendorEntry(result.calls));
}

}  // namespace
