// The certificate and PKCS#12 file readers: whole files of any size, the open-failure
// message, read errors, and the PEM body rules.
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <random>

#include "SignatureTestSupport.h"
#include "support/CustomException.h"

namespace {

using ReaderFunction = bool (*)(COpenRsa&, const char*, std::vector<unsigned char>&);

bool ReadDer(COpenRsa& op, const char* path, std::vector<unsigned char>& out) { return op.ReadCertificateFileDER(path, out); }
bool ReadP12(COpenRsa& op, const char* path, std::vector<unsigned char>& out) { return op.ReadP12File(path, out); }
bool ReadPem(COpenRsa& op, const char* path, std::vector<unsigned char>& out) { return op.ReadCertificateFileBase64(path, out); }

std::string RandomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xFF);
    }
    return bytes;
}

std::string AsString(const std::vector<unsigned char>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string Pem(const std::string& der, const std::string& lineEnd = "\n")
{
    std::string body = ReferenceBase64(der);
    std::string converted;
    for (char c : body) {
        converted += c == '\n' ? lineEnd : std::string(1, c);
    }
    return "-----BEGIN CERTIFICATE-----" + lineEnd + converted + "-----END CERTIFICATE-----" + lineEnd;
}

class ReaderTest : public ::testing::Test {
protected:
    // Writes `content` to a file in the private directory and reads it with `reader`.
    bool Read(ReaderFunction reader, const std::string& content, std::vector<unsigned char>& out)
    {
        WriteFileBytes("input", content);
        return reader(m_operator, "input", out);
    }

    ScopedWorkDir m_dir;
    COpenRsa m_operator;
};

// ---- Raw readers -------------------------------------------------------------------------

struct SizeCase {
    ReaderFunction reader;
    std::size_t size;
};

std::string SizeName(const ::testing::TestParamInfo<SizeCase>& info) { return std::to_string(info.param.size); }

class RawReaderSizeTest : public ReaderTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(RawReaderSizeTest, ReadsTheWholeFileUnchanged)
{
    const std::string content = RandomBytes(GetParam().size, static_cast<unsigned>(GetParam().size));
    std::vector<unsigned char> out;
    EXPECT_TRUE(Read(GetParam().reader, content, out));
    EXPECT_EQ(out.size(), content.size());
    EXPECT_TRUE(AsString(out) == content);
}

INSTANTIATE_TEST_SUITE_P(DerChunkBoundaries, RawReaderSizeTest,
                         ::testing::Values(SizeCase{ReadDer, 0}, SizeCase{ReadDer, 1}, SizeCase{ReadDer, 2047},
                                           SizeCase{ReadDer, 2048}, SizeCase{ReadDer, 2049}, SizeCase{ReadDer, 3000},
                                           SizeCase{ReadDer, 100000}, SizeCase{ReadDer, 1u << 20}),
                         SizeName);
INSTANTIATE_TEST_SUITE_P(P12ChunkBoundaries, RawReaderSizeTest,
                         ::testing::Values(SizeCase{ReadP12, 0}, SizeCase{ReadP12, 4095}, SizeCase{ReadP12, 4096},
                                           SizeCase{ReadP12, 4097}, SizeCase{ReadP12, 3000},
                                           SizeCase{ReadP12, 100000}, SizeCase{ReadP12, 1u << 20}),
                         SizeName);

// ---- Failures common to all three readers ------------------------------------------------

struct CommonCase {
    const char* title;
    ReaderFunction reader;
    const char* notEmptyMessage;
};

class ReaderFailureTest : public ReaderTest, public ::testing::WithParamInterface<CommonCase> {};

TEST_P(ReaderFailureTest, MissingFilePrintsTheMessageAndReturnsFalse)
{
    std::vector<unsigned char> out;
    ConsoleScript console;
    EXPECT_FALSE(GetParam().reader(m_operator, "no such dir/ca file.crt", out));
    EXPECT_EQ(console.Output(), "Couldn't open file 'no such dir/ca file.crt\"\r\nTry again.\r\n");
    EXPECT_TRUE(out.empty());
}

TEST_P(ReaderFailureTest, UnreadablePathIsTreatedLikeAMissingFile)
{
    // None of these may block the run: a FIFO nobody writes to, a terminal-like device.
    std::filesystem::create_directory("a directory");
    ASSERT_EQ(mkfifo("a fifo", 0600), 0);
    std::filesystem::create_symlink("a fifo", "a link to a fifo");
    for (const char* path : {"a directory", "a fifo", "a link to a fifo", "/dev/null", "/dev/zero"}) {
        std::vector<unsigned char> out;
        ConsoleScript console;
        EXPECT_FALSE(GetParam().reader(m_operator, path, out)) << path;
        EXPECT_EQ(console.Output(), std::string("Couldn't open file '") + path + "\"\r\nTry again.\r\n");
        EXPECT_TRUE(out.empty());
    }
}

TEST_P(ReaderFailureTest, FileOverOneMebibyteIsTreatedLikeAMissingFile)
{
    // Sparse files: the big one is refused by its size, never read into memory.
    for (const std::uintmax_t size : {std::uintmax_t{(1u << 20) + 1}, std::uintmax_t{1} << 30}) {
        WriteFileBytes("big", "");
        std::filesystem::resize_file("big", size);
        std::vector<unsigned char> out;
        ConsoleScript console;
        EXPECT_FALSE(GetParam().reader(m_operator, "big", out)) << size;
        EXPECT_EQ(console.Output(), "Couldn't open file 'big\"\r\nTry again.\r\n");
        EXPECT_TRUE(out.empty());
    }
}

TEST_P(ReaderFailureTest, LinkToARegularFileIsRead)
{
    WriteFileBytes("target", std::string("\x30\x03\x02\x01\x01", 5));
    std::filesystem::create_symlink("target", "a link");
    std::vector<unsigned char> out;
    ConsoleScript console;
    GetParam().reader(m_operator, "a link", out);
    EXPECT_EQ(console.Output(), "");
}

TEST_P(ReaderFailureTest, NonEmptyVectorIsRefusedBeforeTheFileIsTouched)
{
    std::vector<unsigned char> out = {1, 2, 3};
    ConsoleScript console;
    try {
        GetParam().reader(m_operator, "missing", out);
        FAIL() << "no exception";
    } catch (const CustomException& e) {
        EXPECT_STREQ(e.what(), GetParam().notEmptyMessage);
    }
    EXPECT_EQ(out, (std::vector<unsigned char>{1, 2, 3}));
    EXPECT_EQ(console.Output(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Readers, ReaderFailureTest,
    ::testing::Values(
        CommonCase{"Der", ReadDer, "CBaseSignatureOperator::ReadCertificateFileDER : rCertificate is not empty"},
        CommonCase{"P12", ReadP12, "CBaseSignatureOperator::ReadP12File : rP12data is not empty"},
        CommonCase{"Pem", ReadPem, "CTokenOperator::ReadCertificateFile : rCertificate is not empty"}),
    [](const ::testing::TestParamInfo<CommonCase>& info) { return std::string(info.param.title); });

// ---- PEM bodies --------------------------------------------------------------------------

const std::string kCertificate = RandomBytes(700, 7);

struct PemCase {
    const char* title;
    std::string file;
    std::string decoded;
};

class PemBodyTest : public ReaderTest, public ::testing::WithParamInterface<PemCase> {};

TEST_P(PemBodyTest, DecodesTheFirstCertificateOnly)
{
    std::vector<unsigned char> out;
    ConsoleScript console;
    EXPECT_TRUE(Read(ReadPem, GetParam().file, out));
    EXPECT_TRUE(AsString(out) == GetParam().decoded) << out.size() << " bytes decoded";
    EXPECT_EQ(console.Output(), "");
}

const std::string kLarge = RandomBytes(60000, 9);  // a body of about 81000 characters

INSTANTIATE_TEST_SUITE_P(
    Files, PemBodyTest,
    ::testing::Values(
        PemCase{"LineFeeds", Pem(kCertificate), kCertificate},
        PemCase{"CarriageReturns", Pem(kCertificate, "\r\n"), kCertificate},
        PemCase{"TextBeforeMarker", "Certificate:\n    Data: ...\n" + Pem(kCertificate), kCertificate},
        PemCase{"TwoCertificates", Pem(kCertificate) + Pem(RandomBytes(300, 8)), kCertificate},
        PemCase{"BodyOverReadChunk", Pem(kLarge), kLarge},
        PemCase{"EmptyBody", "-----BEGIN CERTIFICATE-----\n\n-----END CERTIFICATE-----\n", ""},
        PemCase{"NoLineBreaks", "-----BEGIN CERTIFICATE-----xTWFux-----END CERTIFICATE-----", "Man"},
        PemCase{"ForeignCharactersSkipped", "-----BEGIN CERTIFICATE-----\nT\x01W\xff" "F u\t\n-----END CERTIFICATE-----",
                "Man"}),
    [](const ::testing::TestParamInfo<PemCase>& info) { return std::string(info.param.title); });

class MalformedPemTest : public ReaderTest, public ::testing::WithParamInterface<PemCase> {};

TEST_P(MalformedPemTest, ReturnsFalseWithoutDecoding)
{
    std::vector<unsigned char> out;
    EXPECT_FALSE(Read(ReadPem, GetParam().file, out));
    EXPECT_TRUE(out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, MalformedPemTest,
    ::testing::Values(PemCase{"Empty", "", ""},
                      PemCase{"NoBeginMarker", "TWFu\n-----END CERTIFICATE-----\n", ""},
                      PemCase{"NoEndMarker", "-----BEGIN CERTIFICATE-----\nTWFu\n", ""},
                      PemCase{"EndBeforeBegin", "-----END CERTIFICATE-----\nTWFu\n-----BEGIN CERTIFICATE-----\n", ""},
                      PemCase{"NothingBetween", "-----BEGIN CERTIFICATE----------END CERTIFICATE-----", ""},
                      PemCase{"OneCharacterBetween", "-----BEGIN CERTIFICATE-----\n-----END CERTIFICATE-----", ""},
                      PemCase{"BinaryGarbage", RandomBytes(5000, 3), ""}),
    [](const ::testing::TestParamInfo<PemCase>& info) { return std::string(info.param.title); });

}  // namespace
