// The files a run keeps between runs: the PIN journal's records (round trip, privacy, what
// it refuses to read), the per-token lock, and where the state directory is.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "TempDir.h"
#include "runner/TokenLock.h"
#include "support/CustomException.h"
#include "support/StateDirectory.h"
#include "tests/PinJournal.h"

namespace {

CPinJournal::Entry Entry(const std::string& serial, const std::string& label, CK_USER_TYPE user)
{
    CPinJournal::Entry entry;
    entry.serial = serial;
    entry.label = label;
    entry.userType = user;
    entry.temporaryPin = "26074913";
    return entry;
}

size_t FilesIn(const std::string& directory)
{
    size_t count = 0;
    for (const auto& file : std::filesystem::directory_iterator(directory)) {
        (void)file;
        ++count;
    }
    return count;
}

TEST(PinJournal, RecordsAreFoundPrivateAndGoneWhenCleared)
{
    const TempDir dir;
    const CPinJournal journal(dir.Path());
    // Serial numbers and labels are any bytes of the token's fields.
    for (const std::string& serial : {std::string("8146759F3B20D31B"), std::string("a b/../%\n"), std::string()}) {
        const CPinJournal::Entry entry = Entry(serial, "KORVEL Token", CKU_SO);
        journal.Record(entry);
        const std::string file = journal.FileOf(serial);
        EXPECT_EQ(std::filesystem::path(file).parent_path(), dir.Path()) << file;
        struct stat status {};
        ASSERT_EQ(stat(file.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u);
        EXPECT_EQ(FilesIn(dir.Path()), 1u) << "a temporary file was left beside the record";

        const std::optional<CPinJournal::Entry> found = journal.Find(serial, "KORVEL Token");
        ASSERT_TRUE(found.has_value());
        EXPECT_EQ(found->serial, serial);
        EXPECT_EQ(found->userType, static_cast<CK_USER_TYPE>(CKU_SO));
        EXPECT_EQ(found->temporaryPin, "26074913");
        EXPECT_FALSE(journal.Find(serial, "Other label").has_value());

        journal.Clear(serial);
        EXPECT_FALSE(journal.Find(serial, "KORVEL Token").has_value());
        EXPECT_EQ(FilesIn(dir.Path()), 0u);
    }
}

TEST(PinJournal, ANewRecordReplacesTheOldOneWhole)
{
    const TempDir dir;
    const CPinJournal journal(dir.Path());
    journal.Record(Entry("SN", "Label", CKU_USER));
    journal.Record(Entry("SN", "Label", CKU_SO));
    EXPECT_EQ(journal.Find("SN", "Label")->userType, static_cast<CK_USER_TYPE>(CKU_SO));
}

TEST(PinJournal, FilesItCannotTrustAreNoRecord)
{
    const TempDir dir;
    const CPinJournal journal(dir.Path());
    const std::string file = journal.FileOf("SN");
    const std::string good = "tokentest PIN journal 1\nserial=SN\nlabel=L\npin=so\ntemporary=26074913\n";
    for (const std::string& text :
         {std::string("tokentest PIN journal 2\nserial=SN\nlabel=L\npin=so\ntemporary=26074913\n"),
          std::string("tokentest PIN journal 1\nserial=SN\nlabel=L\npin=admin\ntemporary=26074913\n"),
          std::string("tokentest PIN journal 1\nserial=SN\nlabel=L\npin=so\n"),
          std::string("tokentest PIN journal 1\nserial=SN\nlabel=%4\npin=so\ntemporary=26074913\n"),
          good + std::string(5000, '#'), std::string()}) {
        std::ofstream(file, std::ios::trunc) << text;
        EXPECT_FALSE(journal.Find("SN", "L").has_value()) << text.substr(0, 80);
    }
    std::ofstream(file, std::ios::trunc) << good;
    EXPECT_TRUE(journal.Find("SN", "L").has_value());
    // A link in its place is not followed.
    std::filesystem::rename(file, dir.Path("elsewhere"));
    std::filesystem::create_symlink(dir.Path("elsewhere"), file);
    EXPECT_FALSE(journal.Find("SN", "L").has_value());
}

TEST(PinJournal, ARecordThatCannotBeWrittenIsAnError)
{
    const TempDir dir;
    const CPinJournal journal(dir.Path("missing"));
    EXPECT_THROW(journal.Record(Entry("SN", "L", CKU_SO)), CustomException);
}

TEST(TokenLock, IsHeldByOneAtATimeAndFreedWithItsOwner)
{
    const TempDir dir;
    const std::string path = dir.Path("token-SN.lock");
    {
        const CTokenLock first(path);
        ASSERT_TRUE(first.Held());
        const CTokenLock second(path);
        EXPECT_FALSE(second.Held());
        EXPECT_TRUE(second.Busy());
        // Another token's lock is independent.
        EXPECT_TRUE(CTokenLock(dir.Path("token-OTHER.lock")).Held());
    }
    EXPECT_TRUE(CTokenLock(path).Held());
    const CTokenLock nowhere(dir.Path("missing/token-SN.lock"));
    EXPECT_FALSE(nowhere.Held());
    EXPECT_FALSE(nowhere.Busy());
    EXPECT_NE(nowhere.Error().find("missing"), std::string::npos);
}

TEST(StateDirectory, FollowsXdgStateHomeThenHome)
{
    const char* oldState = std::getenv("XDG_STATE_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string savedState = oldState ? oldState : "";
    const std::string savedHome = oldHome ? oldHome : "";
    setenv("HOME", "/home/someone", 1);
    setenv("XDG_STATE_HOME", "/var/state", 1);
    EXPECT_EQ(CStateDirectory::Path(), "/var/state/tokentest");
    setenv("XDG_STATE_HOME", "relative/state", 1);   // not absolute: ignored
    EXPECT_EQ(CStateDirectory::Path(), "/home/someone/.local/state/tokentest");
    unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(CStateDirectory::Path(), "/home/someone/.local/state/tokentest");

    const TempDir dir;
    setenv("XDG_STATE_HOME", dir.Path("a/b").c_str(), 1);
    std::string error;
    ASSERT_TRUE(CStateDirectory::Create(error)) << error;
    struct stat status {};
    ASSERT_EQ(stat(dir.Path("a/b/tokentest").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);

    savedState.empty() ? unsetenv("XDG_STATE_HOME") : setenv("XDG_STATE_HOME", savedState.c_str(), 1);
    savedHome.empty() ? unsetenv("HOME") : setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
