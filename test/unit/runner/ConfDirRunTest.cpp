// Test files read from the directory --conf-dir names instead of ../conf/.
#include <filesystem>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ChildRun.h"

namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(ConfDirRun, TestFilesComeFromTheNamedDirectory)
{
    ChildRun child;
    child.Script(HealthyToken());
    // Only the named directory holds the files: ../conf/ is gone.
    const std::string moved = child.Root() + "/elsewhere";
    std::filesystem::rename(child.Root() + "/conf", moved);

    for (const std::string& directory : {moved, moved + "/"}) {
        const ChildRun::Result result = child.Run({"--gost", "--conf-dir=" + directory});
        ASSERT_EQ(result.status, 0) << result.out << result.err;
        // The PKCS#12 files the stand-in directory holds, as the fake logged them.
        EXPECT_THAT(result.logLines, Contains(HasSubstr("C_KTL_LoadCert rv=CKR_OK args=")));
        EXPECT_THAT(result.out, Not(HasSubstr("Couldn't open")));
        int imports = 0;
        for (const std::string& line : result.logLines) {
            if (line.rfind("C_KTL_LoadCert ", 0) == 0) {
                EXPECT_THAT(line, HasSubstr(imports == 0 ? "bufs=300402010300," : "bufs=300402010301,"));
                ++imports;
            }
        }
        EXPECT_EQ(imports, 2);
    }

    const ChildRun::Result withoutOption = child.Run({});
    EXPECT_EQ(withoutOption.status, 2);
    EXPECT_THAT(withoutOption.out, HasSubstr("Couldn't open file '../conf/clientTest2.p12\""));
}

}  // namespace
