// Loading the module by its bare file name, in a process that has not loaded any module yet.
// CTest runs each suite with LD_LIBRARY_PATH naming one directory: empty, a library without
// C_GetFunctionList, one whose C_GetFunctionList fails, or the scripted fake module.
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "ConsoleScript.h"
#include "TempDir.h"
#include "support/CustomException.h"
#include "support/ModuleLoadException.h"
#include "support/PKCSException.h"
#include "token/TokenOperator.h"
#include "token/VendorDetection.h"

namespace {

const char kModule[] = "libnimb_pkcs11_main.so";

bool ModuleStillLoaded()
{
    void* handle = dlopen(kModule, RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

TEST(MissingModule, LoaderTextOnStandardErrorAndExitStatus1)
{
    CTokenOperator op;
    // The whole of standard error: the loader's text and a line end.
    EXPECT_EXIT(
        {
            try {
                op.Initialize();
            } catch (...) {
                std::_Exit(3);
            }
        },
        ::testing::ExitedWithCode(1), "^libnimb_pkcs11_main\\.so: cannot open shared object file: No such file or directory\n$");
}

TEST(MissingModule, UnloadablePathEndsLikeTheBareName)
{
    CTokenOperator op;
    EXPECT_EXIT(
        {
            try {
                op.Initialize(CModuleOptions{"/nonexistent/module.so", false, false});
            } catch (...) {
                std::_Exit(3);
            }
        },
        ::testing::ExitedWithCode(1), "^/nonexistent/module\\.so: cannot open shared object file: No such file or directory\n$");
}

TEST(MissingModule, ModulePathIsLoadedWhereTheBareNameIsNotFound)
{
    CTokenOperator op;
    op.Initialize(CModuleOptions{FAKE_MODULE_PATH, false, false});
    EXPECT_EQ(op.GetLibraryPath(), FAKE_MODULE_PATH);
    EXPECT_TRUE(ModuleStillLoaded());
    EXPECT_FALSE(op.UsesStandardCalls());
    op.Finalize();
    EXPECT_FALSE(ModuleStillLoaded());
}

// A library that loads but gives no function list: the failure as specified, and the line
// that names the module and what it lacks.
TEST(ModuleWithoutFunctionList, MissingEntryIsReportedAndTheLibraryClosed)
{
    CTokenOperator op;
    try {
        op.Initialize();
        ADD_FAILURE() << "no exception";
    } catch (const CModuleLoadException& e) {
        EXPECT_STREQ(e.what(), "Function \"C_GetFunctionList\" was not found in PKCS library.");
        EXPECT_FALSE(e.PkcsFailure());
        EXPECT_EQ(e.ModuleLine(), "libnimb_pkcs11_main.so is not a usable PKCS#11 module: it has no C_GetFunctionList");
    }
    EXPECT_FALSE(ModuleStillLoaded());
}

TEST(FailingFunctionList, ResultIsThrownAndTheLibraryClosed)
{
    CTokenOperator op;
    try {
        op.Initialize();
        ADD_FAILURE() << "no exception";
    } catch (const CModuleLoadException& e) {
        ASSERT_TRUE(e.PkcsFailure());
        EXPECT_EQ(e.PkcsFailure()->m_rv, CKR_FUNCTION_FAILED);
        EXPECT_EQ(e.PkcsFailure()->m_function, "CTokenOperator::InitPkcsFunctionList");
        EXPECT_EQ(e.ModuleLine(), "libnimb_pkcs11_main.so is not a usable PKCS#11 module: its C_GetFunctionList failed");
    }
    EXPECT_FALSE(ModuleStillLoaded());
}

TEST(NullFunctionList, SuccessWithoutAListIsReportedAndTheLibraryClosed)
{
    CTokenOperator op;
    try {
        op.Initialize();
        ADD_FAILURE() << "no exception";
    } catch (const CModuleLoadException& e) {
        EXPECT_STREQ(e.what(), "Function \"C_GetFunctionList\" returned no function list.");
        EXPECT_FALSE(e.PkcsFailure());
        EXPECT_EQ(e.ModuleLine(),
                  "libnimb_pkcs11_main.so is not a usable PKCS#11 module: its C_GetFunctionList gave no function list");
    }
    EXPECT_FALSE(ModuleStillLoaded());
}

// The fake module, scripted through its environment, in a fresh temporary directory.
class ScriptedModule : public ::testing::Test {
protected:
    void TearDown() override
    {
        unsetenv("FAKE_PKCS11_SCRIPT");
        unsetenv("FAKE_PKCS11_LOG");
    }
    std::string Path(const std::string& name) const { return m_dir.Path(name); }
    void Script(const std::string& text)
    {
        std::ofstream(Path("script")) << text;
        setenv("FAKE_PKCS11_SCRIPT", Path("script").c_str(), 1);
        setenv("FAKE_PKCS11_LOG", Path("log").c_str(), 1);
    }
    std::string Log() const
    {
        std::ifstream in(Path("log"));
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    TempDir m_dir{"tokentest-loading-"};
};

TEST_F(ScriptedModule, RefusedInitializationIsThrownAndTheLibraryClosed)
{
    Script("fail C_Initialize CKR_CRYPTOKI_ALREADY_INITIALIZED\n");
    CTokenOperator op;
    try {
        op.Initialize();
        ADD_FAILURE() << "no exception";
    } catch (const CPKCSException& e) {
        EXPECT_EQ(e.m_rv, 0x191u);
        EXPECT_EQ(e.m_function, "CTokenOperator::CTokenOperator");
    }
    EXPECT_FALSE(ModuleStillLoaded());
    EXPECT_EQ(Log(), "C_GetFunctionList rv=CKR_OK args=\nC_Initialize rv=CKR_CRYPTOKI_ALREADY_INITIALIZED args=0\n");
}

TEST_F(ScriptedModule, FinalizeWithFailingCallsIsSilentAndStillUnloads)
{
    Script("slot 4 present Reader\nfail C_CloseAllSessions CKR_DEVICE_ERROR\nfail C_Finalize CKR_GENERAL_ERROR\n");
    CTokenOperator op;
    op.Initialize();
    ASSERT_TRUE(ModuleStillLoaded());
    op.SetCurrentSlot(4);
    ConsoleScript console;
    EXPECT_NO_THROW(op.Finalize());
    EXPECT_EQ(console.Output(), "");
    EXPECT_FALSE(ModuleStillLoaded());
    EXPECT_EQ(Log(),
              "C_GetFunctionList rv=CKR_OK args=\n"
              "C_Initialize rv=CKR_OK args=0\n"
              "C_CloseAllSessions rv=CKR_DEVICE_ERROR args=4\n"
              "C_Finalize rv=CKR_GENERAL_ERROR args=\n");
}

TEST_F(ScriptedModule, UnreadableScriptRefusesTheFunctionList)
{
    Script("slot 1 present A\nfrobnicate\n");
    CTokenOperator op;
    ::testing::internal::CaptureStderr();
    try {
        op.Initialize();
        ADD_FAILURE() << "no exception";
    } catch (const CModuleLoadException& e) {
        ASSERT_TRUE(e.PkcsFailure());
        EXPECT_EQ(e.PkcsFailure()->m_rv, CKR_GENERAL_ERROR);
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "fake PKCS#11 module: line 2: unknown command \"frobnicate\"\n");
    EXPECT_FALSE(ModuleStillLoaded());
}

// The bundled software token publishes its vendor entries as an interface: the utility takes
// them from there, and never from behind its list.
class BundledToken : public ::testing::Test {
protected:
    void SetUp() override { setenv("SOFTTOKEN_STORE", m_dir.Path("store.db").c_str(), 1); }
    void TearDown() override { unsetenv("SOFTTOKEN_STORE"); }

    TempDir m_dir{"tokentest-bundled-"};
};

TEST_F(BundledToken, VendorEntriesComeThroughItsVendorInterface)
{
    void* library = dlopen(SOFTTOKEN_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
    auto getInterface = reinterpret_cast<CK_C_GetInterface>(dlsym(library, "C_GetInterface"));
    ASSERT_NE(getList, nullptr);
    ASSERT_NE(getInterface, nullptr);
    CK_FUNCTION_LIST* list = nullptr;
    ASSERT_EQ(getList(&list), CKR_OK);
    const CK_KTL_FUNCTION_LIST behind = *reinterpret_cast<const CK_KTL_FUNCTION_LIST*>(list);

    // A copy of the standard list alone, on the heap: nothing readable follows it, so only the
    // interface can give the entries.
    auto copy = std::make_unique<CK_FUNCTION_LIST>(*list);
    const std::optional<CK_KTL_FUNCTION_LIST> found = CVendorDetection::Detect(copy.get(), getInterface);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->C_KTL_LoadCert, behind.C_KTL_LoadCert);
    EXPECT_EQ(found->C_KTL_LoadX509Cert, behind.C_KTL_LoadX509Cert);
    EXPECT_EQ(found->C_KTL_CreateCSR, behind.C_KTL_CreateCSR);
    EXPECT_EQ(found->C_KTL_SignWithCert, behind.C_KTL_SignWithCert);
    EXPECT_EQ(found->C_KTL_VerifySignature, behind.C_KTL_VerifySignature);
    EXPECT_FALSE(CVendorDetection::Detect(copy.get()).has_value());
    dlclose(library);

    // Loaded by the utility: the vendor steps use the module's entries.
    CTokenOperator op;
    op.Initialize(CModuleOptions{SOFTTOKEN_MODULE_PATH, false, false});
    EXPECT_FALSE(op.UsesStandardCalls());
    EXPECT_TRUE(op.ModuleHasVendorEntries());
    op.Finalize();
}

}  // namespace
