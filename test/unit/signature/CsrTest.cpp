// CSR generation: the packed string blocks, the two-call protocol with the vendor entry,
// the two output files and their failures.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "SignatureTestSupport.h"
#include "support/CustomException.h"

namespace {

const char kCsrMessage[] =
    "CSR created. You may now proceed to http://testca.tokentest.example/request/chooseMethod/id/3/ to get a test "
    "certificate for your CSR or contact your preferred certificate authority to get a non-test certificate\n";

fake::Bytes BytesOf(const std::string& text) { return fake::Bytes(text.begin(), text.end()); }

std::string Pattern(std::size_t count)
{
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<char>((i * 131 + 7) & 0xFF);
    }
    return bytes;
}

class CsrTest : public SignatureOperatorTest {
protected:
    void SetUp() override
    {
        SignatureOperatorTest::SetUp();
        m_public = AddKey(CKO_PUBLIC_KEY, kKeyPairId);
        m_private = AddKey(CKO_PRIVATE_KEY, kKeyPairId);
        fake::ClearCalls();
    }

    std::string Expect(const std::string& thrower)
    {
        try {
            m_rsa.GenerateCSR();
        } catch (const CustomException& e) {
            return e.what();
        }
        return thrower + ": no exception";
    }

    ScopedWorkDir m_dir;
    CK_OBJECT_HANDLE m_public = 0;
    CK_OBJECT_HANDLE m_private = 0;
};

}  // namespace

TEST(MakeContiguousTest, PacksStringsWithTheirTerminators)
{
    COpenRsa op;
    const char* const subject[] = {"CN", "name", "C", "RU"};
    const char* const empty[] = {""};
    EXPECT_EQ(op.MakeContiguous(subject, 4), BytesOf(std::string("CN\0name\0C\0RU\0", 13)));
    EXPECT_EQ(op.MakeContiguous(subject, 1), BytesOf(std::string("CN\0", 3)));
    EXPECT_EQ(op.MakeContiguous(empty, 1), fake::Bytes{0});
    EXPECT_TRUE(op.MakeContiguous(nullptr, 0).empty());
}

TEST_F(CsrTest, ModuleBuildsTheRequestAndBothFilesAreWritten)
{
    const fake::Bytes csr = BytesOf(Pattern(300));
    fake::SetOutput("C_KTL_CreateCSR", csr);
    ConsoleScript console;

    m_gost.GenerateCSR();

    const auto calls = CallsNamed("C_KTL_CreateCSR");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(calls[0].outputNull);
    EXPECT_EQ(calls[0].args, (std::vector<CK_ULONG>{m_session, m_public, 2, 0, m_private, 1, 1}));
    EXPECT_FALSE(calls[1].outputNull);
    EXPECT_EQ(calls[1].args, (std::vector<CK_ULONG>{m_session, m_public, 2, csr.size(), m_private, 1, 1}));
    for (const fake::Call& call : calls) {
        ASSERT_EQ(call.buffers.size(), 3u);
        EXPECT_EQ(call.buffers[0], BytesOf(std::string("CN\0name\0C\0RU\0", 13)));
        EXPECT_EQ(call.buffers[1], BytesOf(std::string("challengePassword\0" "7591\0", 23)));
        EXPECT_EQ(call.buffers[2], BytesOf(std::string("keyUsage\0digitalSignature,keyEncipherment\0" "1\0", 44)));
    }
    EXPECT_EQ(ReadFileBytes("csr_der.dat"), std::string(csr.begin(), csr.end()));
    EXPECT_EQ(ReadFileBytes("csr_base64.txt"), ReferenceBase64(std::string(csr.begin(), csr.end())));
    EXPECT_EQ(console.Output(), kCsrMessage);
}

TEST_F(CsrTest, ZeroLengthRequestGivesEmptyFiles)
{
    fake::SetReportedLength("C_KTL_CreateCSR", 0);
    ConsoleScript console;
    m_rsa.GenerateCSR();
    EXPECT_EQ(CallsNamed("C_KTL_CreateCSR").at(1).args.at(3), 0u);
    EXPECT_EQ(ReadFileBytes("csr_der.dat"), "");
    EXPECT_EQ(ReadFileBytes("csr_base64.txt"), "\n");
}

TEST_F(CsrTest, UnallocatableLengthWritesNothing)
{
    fake::SetReportedLength("C_KTL_CreateCSR", ~CK_ULONG(0));
    EXPECT_THROW(m_rsa.GenerateCSR(), std::length_error);
    EXPECT_EQ(CallsNamed("C_KTL_CreateCSR").size(), 1u);
    EXPECT_FALSE(std::filesystem::exists("csr_der.dat"));
}

TEST_F(CsrTest, VanishedWorkingDirectoryFailsAfterTheModuleBuiltTheRequest)
{
    std::filesystem::create_directory("gone");
    std::filesystem::current_path("gone");
    std::filesystem::remove(std::filesystem::path(m_dir.Path()) / "gone");
    ConsoleScript console;

    EXPECT_EQ(Expect("vanished"), "couldn't open file \"csr_der.dat\"");
    EXPECT_EQ(CallsNamed("C_KTL_CreateCSR").size(), 2u);
    EXPECT_EQ(console.Output(), "");
}

TEST_F(CsrTest, FileFailuresNameTheFile)
{
    struct Case {
        const char* title;
        void (*prepare)();
        const char* message;
        bool derWritten;
    };
    const Case cases[] = {
        {"der is a directory", [] { std::filesystem::create_directory("csr_der.dat"); },
         "couldn't open file \"csr_der.dat\"", false},
        {"base64 is a directory", [] { std::filesystem::create_directory("csr_base64.txt"); },
         "couldn't open file \"csr_base64.txt\"", true},
        // Nothing but a regular file of its own is written: not through a link, not into a
        // device, a FIFO or a second name of another file.
        {"der is a link", [] { std::filesystem::create_symlink("victim", "csr_der.dat"); },
         "couldn't open file \"csr_der.dat\"", false},
        {"base64 is a link", [] { std::filesystem::create_symlink("victim", "csr_base64.txt"); },
         "couldn't open file \"csr_base64.txt\"", true},
        {"der is a dangling link", [] { std::filesystem::create_symlink("nowhere", "csr_der.dat"); },
         "couldn't open file \"csr_der.dat\"", false},
        {"der links to a device", [] { std::filesystem::create_symlink("/dev/null", "csr_der.dat"); },
         "couldn't open file \"csr_der.dat\"", false},
        {"base64 is a FIFO", [] { ASSERT_EQ(mkfifo("csr_base64.txt", 0600), 0); },
         "couldn't open file \"csr_base64.txt\"", true},
        {"der is a second name", [] { std::filesystem::create_hard_link("victim", "csr_der.dat"); },
         "couldn't open file \"csr_der.dat\"", false},
    };
    const std::filesystem::path base = m_dir.Path();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        const std::filesystem::path dir = base / c.title;
        std::filesystem::create_directory(dir);
        std::filesystem::current_path(dir);
        WriteFileBytes("victim", "precious");
        c.prepare();
        ConsoleScript console;
        EXPECT_EQ(Expect(c.title), c.message);
        EXPECT_EQ(console.Output(), "");
        EXPECT_EQ(ReadFileBytes("victim"), "precious");
        if (c.derWritten) {
            EXPECT_EQ(ReadFileBytes("csr_der.dat").size(), 100u);
        }
    }
}

// ---- Base64 layout of the CSR file ----------------------------------------------------

class CsrBase64Test : public ::testing::TestWithParam<std::size_t> {
protected:
    ScopedWorkDir m_dir;
    COpenRsa m_operator;
};

TEST_P(CsrBase64Test, MatchesStandardBase64WithLinesOf72)
{
    std::string der = Pattern(GetParam());
    m_operator.WriteToFile(reinterpret_cast<unsigned char*>(der.data()), der.size());
    EXPECT_TRUE(ReadFileBytes("csr_der.dat") == der);
    const std::string base64 = ReadFileBytes("csr_base64.txt");
    EXPECT_TRUE(base64 == ReferenceBase64(der)) << "length " << base64.size();
}

// 16 MiB + 100 crosses the encoder's input block with a group split across it.
INSTANTIATE_TEST_SUITE_P(Lengths, CsrBase64Test,
                         ::testing::Values(0, 1, 2, 3, 53, 54, 55, 108, 1000, 16u * 1024 * 1024 + 100),
                         ::testing::PrintToStringParamName());

TEST(CsrBase64LayoutTest, LineBreaksFollowCompleteGroups)
{
    ScopedWorkDir dir;
    COpenRsa op;
    struct Case {
        std::size_t length;
        std::string tail;
        std::size_t lines;
    };
    // A multiple of 54 bytes ends with the line break and the final newline together.
    const Case cases[] = {{1, "==\n", 1}, {53, "=\n", 1}, {54, "\n\n", 2}, {108, "\n\n", 3}, {56, "=\n", 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        std::string der = Pattern(c.length);
        op.WriteToFile(reinterpret_cast<unsigned char*>(der.data()), der.size());
        const std::string text = ReadFileBytes("csr_base64.txt");
        ASSERT_GE(text.size(), c.tail.size());
        EXPECT_EQ(text.substr(text.size() - c.tail.size()), c.tail);
        EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')), c.lines);
    }
}
