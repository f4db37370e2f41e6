// An unusable store: C_Initialize answers CKR_DEVICE_ERROR and one line on standard error
// names the store and the reason, however often the client tries.
#include "SoftTokenFixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

namespace softtoken_test {
namespace {

constexpr int kNoOtherUser = 77;

// Runs two C_Initialize calls in a child with the given store and its standard error in a
// file; as root the child becomes "nobody", for whom permissions count.
int InitializeTwiceInChild(CK_FUNCTION_LIST* f, const std::string& store, const std::string& errors,
                           bool asOtherUser) {
    const int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || dup2(fd, STDERR_FILENO) < 0) return 90;
    if (asOtherUser && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return kNoOtherUser;
    setenv("SOFTTOKEN_STORE", store.c_str(), 1);
    for (int attempt = 0; attempt < 2; ++attempt)
        if (f->C_Initialize(nullptr) != CKR_DEVICE_ERROR) return 91 + attempt;
    return 0;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Cause {
    const char* name;
    // Prepares the directory and returns the store path to use.
    std::function<std::string(const std::string& dir, const std::string& goodStore)> prepare;
    const char* reason;
    bool asOtherUser;
};

void Truncate(const std::string& path, size_t size) { std::filesystem::resize_file(path, size); }

const Cause kCauses[] = {
    {"parent is a file",
     [](const std::string& dir, const std::string&) {
         std::ofstream(dir + "/plain file") << "not a directory";
         return dir + "/plain file/store.db";
     },
     "plain file is not a directory", false},
    {"not writable",
     [](const std::string& dir, const std::string& goodStore) {
         const std::string locked = dir + "/locked";
         std::filesystem::create_directory(locked);
         std::filesystem::copy_file(goodStore, locked + "/store.db");
         chmod((locked + "/store.db").c_str(), 0444);
         chmod(locked.c_str(), 0555);
         chmod(dir.c_str(), 0755);
         return locked + "/store.db";
     },
     "not writable", true},
    {"not a database",
     [](const std::string& dir, const std::string&) {
         std::ofstream(dir + "/text.db") << std::string(4096, 'x');
         return dir + "/text.db";
     },
     "not an SQLite database", false},
    {"truncated",
     [](const std::string& dir, const std::string& goodStore) {
         std::filesystem::copy_file(goodStore, dir + "/cut.db");
         Truncate(dir + "/cut.db", std::filesystem::file_size(goodStore) / 2);
         return dir + "/cut.db";
     },
     "damaged or truncated", false},
};

TEST_F(SoftTokenTest, UnusableStoreIsReportedOnceWithPathAndReason) {
    // A real store to spoil: enough objects for several pages.
    CK_SESSION_HANDLE session = LoginUser();
    for (int i = 0; i < 40; ++i) CreateData(session, true, false, "object " + std::to_string(i) + std::string(80, '.'));
    ASSERT_RV(CKR_OK, f->C_Finalize(nullptr));
    ASSERT_FALSE(std::filesystem::exists(StorePath() + "-wal") && std::filesystem::file_size(StorePath() + "-wal") > 0);

    for (const Cause& cause : kCauses) {
        SCOPED_TRACE(cause.name);
        const std::string dir = Dir() + "/" + std::string(cause.name);
        std::filesystem::create_directory(dir);
        const std::string store = cause.prepare(dir, StorePath());
        const std::string errors = Dir() + "/errors of " + cause.name;
        const pid_t child = fork();
        ASSERT_NE(-1, child);
        if (child == 0) _exit(InitializeTwiceInChild(f, store, errors, cause.asOtherUser));
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFEXITED(status));
        if (WEXITSTATUS(status) == kNoOtherUser) {
            ADD_FAILURE() << "cannot run as another user";
            continue;
        }
        ASSERT_EQ(0, WEXITSTATUS(status)) << "C_Initialize did not answer CKR_DEVICE_ERROR";
        const std::string text = FileText(errors);
        EXPECT_EQ(1, std::count(text.begin(), text.end(), '\n')) << text;
        EXPECT_EQ(0u, text.find("softtoken: cannot use the store " + store + ": ")) << text;
        EXPECT_NE(std::string::npos, text.find(cause.reason)) << text;
    }
    chmod((Dir() + "/not writable/locked").c_str(), 0755);
    ASSERT_RV(CKR_OK, f->C_Initialize(nullptr));
}

// Values beyond what strtoul reads still mean the most slots; anything but digits means one.
TEST_F(SoftTokenTest, SlotCountOutOfRangeOrMalformed) {
    const struct {
        const char* text;
        CK_ULONG slots;
    } cases[] = {{"64", 64}, {"65", 64}, {"99999999999999999999999999", 64}, {"-1", 1}, {"2x", 1}, {" 2", 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_RV(CKR_OK, f->C_Finalize(nullptr));
        setenv("SOFTTOKEN_SLOTS", c.text, 1);
        ASSERT_RV(CKR_OK, f->C_Initialize(nullptr));
        CK_ULONG count = 0;
        ASSERT_RV(CKR_OK, f->C_GetSlotList(CK_TRUE, nullptr, &count));
        EXPECT_EQ(c.slots, count);
    }
    unsetenv("SOFTTOKEN_SLOTS");
}

}  // namespace
}  // namespace softtoken_test
