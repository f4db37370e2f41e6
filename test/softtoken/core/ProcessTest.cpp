// The module in the life of its host process: a child after fork(), a host that finalises
// from its own exit handler, processes trying wrong PINs at once, and handle sizes.
#include "SoftTokenFixture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

namespace softtoken_test {
namespace {

const Bytes kWrongPin = {'0', '0', '0', '0', '0', '0'};

// Waits for a child and returns its exit status, or -1 when it did not exit by itself.
int ExitStatusOf(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// The child's steps after fork(); it exits with the number of the first that fails.
int SignInChild(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE parentSession) {
    CK_SESSION_INFO info;
    if (f->C_GetSessionInfo(parentSession, &info) != CKR_CRYPTOKI_NOT_INITIALIZED) return 1;
    if (f->C_Initialize(nullptr) != CKR_OK) return 2;
    if (f->C_GetSessionInfo(parentSession, &info) != CKR_SESSION_HANDLE_INVALID) return 3;
    CK_SESSION_HANDLE session = 0;
    Bytes pin = kDefaultPin;
    if (f->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) != CKR_OK ||
        f->C_Login(session, CKU_USER, pin.data(), pin.size()) != CKR_OK)
        return 4;
    CK_OBJECT_CLASS privateClass = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE query = {CKA_CLASS, &privateClass, sizeof privateClass};
    CK_OBJECT_HANDLE key = 0;
    CK_ULONG count = 0;
    if (f->C_FindObjectsInit(session, &query, 1) != CKR_OK || f->C_FindObjects(session, &key, 1, &count) != CKR_OK ||
        f->C_FindObjectsFinal(session) != CKR_OK || count != 1)
        return 5;
    CK_MECHANISM mechanism = {CKM_SHA256_RSA_PKCS, nullptr, 0};
    Bytes data(32, 7), signature(128);
    CK_ULONG length = signature.size();
    if (f->C_SignInit(session, &mechanism, key) != CKR_OK ||
        f->C_Sign(session, data.data(), data.size(), signature.data(), &length) != CKR_OK)
        return 6;
    // A token object for the parent to find.
    CK_OBJECT_CLASS dataClass = CKO_DATA;
    char label[] = "made by the child";
    CK_ATTRIBUTE made[] = {{CKA_CLASS, &dataClass, sizeof dataClass}, {CKA_TOKEN, &Value::True, 1},
                           {CKA_LABEL, label, sizeof label - 1}};
    CK_OBJECT_HANDLE object = 0;
    if (f->C_CreateObject(session, made, 3, &object) != CKR_OK) return 7;
    if (f->C_Finalize(nullptr) != CKR_OK) return 8;
    return 0;
}

TEST_F(SoftTokenTest, ChildAfterForkInitialisesAndSigns) {
    CK_SESSION_HANDLE session = LoginUser();
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    GenerateRsa(session, 1024, publicKey, privateKey);
    Bytes signature;
    ASSERT_RV(CKR_OK, Sign(session, {CKM_SHA256_RSA_PKCS, nullptr, 0}, privateKey, Bytes(32, 7), signature));

    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) _exit(SignInChild(f, session));
    ASSERT_EQ(0, ExitStatusOf(child)) << "the child's first failing step";

    // The parent's session, login and key go on working, and it sees the child's object.
    ASSERT_RV(CKR_OK, Sign(session, {CKM_SHA256_RSA_PKCS, nullptr, 0}, privateKey, Bytes(32, 7), signature));
    const std::string label = "made by the child";
    EXPECT_EQ(1u, Find(session, {{CKA_LABEL, const_cast<char*>(label.data()), label.size()}}).size());
}

TEST_F(SoftTokenTest, ChildThatNeverInitialisesLeavesTheParentsStoreAlone) {
    CK_SESSION_HANDLE session = LoginUser();
    CreateData(session, true, false, "before the fork");
    const pid_t child = fork();
    ASSERT_NE(-1, child);
    if (child == 0) exit(0);  // runs the module's exit handling on the inherited state
    ASSERT_EQ(0, ExitStatusOf(child));
    CreateData(session, true, false, "after the fork");
    EXPECT_EQ(2u, FindAll(session).size());
}

// Each child, with a module of its own, tries wrong PINs until the PIN locks and exits with
// the number of tries that were refused as wrong.
int TryWrongPins(int start) {
    CK_FUNCTION_LIST* f = LoadSharedModule();
    CK_SESSION_HANDLE session = 0;
    if (f == nullptr || f->C_Initialize(nullptr) != CKR_OK ||
        f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK)
        return 100;
    char go = 0;
    if (read(start, &go, 1) != 0) return 101;  // all children begin when the pipe closes
    Bytes pin = kWrongPin;
    for (int refused = 0;; ++refused) {
        const CK_RV rv = f->C_Login(session, CKU_USER, pin.data(), pin.size());
        if (rv == CKR_PIN_LOCKED) return refused;
        if (rv != CKR_PIN_INCORRECT) return 102;
    }
}

TEST_F(SoftTokenTest, ParallelWrongPinsLockAfterExactlyTenTries) {
    InitToken();
    int start[2];
    ASSERT_EQ(0, pipe(start));
    std::array<pid_t, 4> children{};
    for (pid_t& child : children) {
        child = fork();
        ASSERT_NE(-1, child);
        if (child == 0) {
            close(start[1]);
            _exit(TryWrongPins(start[0]));
        }
    }
    close(start[0]);
    close(start[1]);
    int total = 0;
    for (pid_t child : children) {
        const int refused = ExitStatusOf(child);
        ASSERT_GE(refused, 0);
        ASSERT_LE(refused, 10) << "a child failed with " << refused;
        total += refused;
    }
    EXPECT_EQ(10, total);
    CK_SESSION_HANDLE session = Open();
    EXPECT_RV(CKR_PIN_LOCKED, Login(session, CKU_USER, kDefaultPin));
}

// A host that calls into the module from an exit handler exits cleanly, whether the handler
// was registered before the module was loaded (as OpenSSL's pkcs11 engine does) or later.
TEST_F(SoftTokenTest, HostCallingFromItsExitHandlerExitsCleanly) {
    for (const char* registered : {"early", "late"}) {
        SCOPED_TRACE(registered);
        ASSERT_RV(CKR_OK, f->C_Finalize(nullptr));
        std::filesystem::remove(StorePath());
        ASSERT_RV(CKR_OK, f->C_Initialize(nullptr));
        const std::string command =
            std::string(SOFTTOKEN_EXIT_CLIENT_PATH) + " " + SOFTTOKEN_MODULE_PATH + " " + registered + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(nullptr, pipe);
        std::string output;
        char buffer[4096];
        for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
        const int status = pclose(pipe);
        ASSERT_TRUE(WIFEXITED(status)) << output;
        EXPECT_EQ(0, WEXITSTATUS(status)) << output;
        EXPECT_NE(std::string::npos, output.find("exit handler: C_GetMechanismList answered")) << output;
    }
}

TEST_F(SoftTokenTest, HandlesFitInThirtyOneBits) {
    CK_SESSION_HANDLE session = LoginUser();
    const CK_SESSION_HANDLE readOnly = Open(false);
    std::vector<CK_OBJECT_HANDLE> objects = {CreateData(session, true, false, "token object"),
                                             CreateData(session, false, false, "session object"),
                                             CreateData(session, false, true, "private session object")};
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    GenerateRsa(session, 1024, publicKey, privateKey);
    objects.push_back(publicKey);
    objects.push_back(privateKey);
    std::vector<CK_ULONG> all = objects;
    all.push_back(session);
    all.push_back(readOnly);
    for (CK_ULONG handle : all) {
        EXPECT_NE(CK_ULONG(CK_INVALID_HANDLE), handle);
        EXPECT_LT(handle, CK_ULONG(1) << 31);
    }
    std::sort(objects.begin(), objects.end());
    EXPECT_EQ(objects.end(), std::adjacent_find(objects.begin(), objects.end())) << "object handles repeat";
}

}  // namespace
}  // namespace softtoken_test
