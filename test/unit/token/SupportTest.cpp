// The console logger and the two exception types.
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <type_traits>

#include "support/CustomException.h"
#include "support/Logger.h"
#include "support/PKCSException.h"

namespace {

// A string buffer that counts flushes, put under std::cout while it lives.
class CountingBuffer : public std::stringbuf {
public:
    CountingBuffer() : m_saved(std::cout.rdbuf(this)) {}
    ~CountingBuffer() override { std::cout.rdbuf(m_saved); }
    int flushes = 0;

protected:
    int sync() override
    {
        ++flushes;
        return std::stringbuf::sync();
    }

private:
    std::streambuf* m_saved;
};

struct LogCase {
    void (*write)(Logger&, const std::string&);
    std::string message;
    std::string line;
};

TEST(Logger, WritesTagColonBlankMessageLineEndAndFlushes)
{
    const LogCase cases[] = {
        {[](Logger& l, const std::string& m) { l.info(m.c_str()); }, "Logging in using default PIN",
         "INFO: Logging in using default PIN\n"},
        {[](Logger& l, const std::string& m) { l.info(m); }, "from a string", "INFO: from a string\n"},
        {[](Logger& l, const std::string& m) { l.debug(m.c_str()); }, "d", "DEBUG: d\n"},
        {[](Logger& l, const std::string& m) { l.debug(m); }, "d2", "DEBUG: d2\n"},
        {[](Logger& l, const std::string& m) { l.error(m.c_str()); }, "", "ERROR: \n"},
        {[](Logger& l, const std::string& m) { l.error(m); }, "", "ERROR: \n"},
        {[](Logger& l, const std::string& m) { l.fatal(m.c_str()); }, "two\r\nlines\n", "FATAL: two\r\nlines\n\n"},
        {[](Logger& l, const std::string& m) { l.fatal(m); }, "100% %s %d", "FATAL: 100% %s %d\n"},
    };
    Logger logger;
    for (const LogCase& c : cases) {
        CountingBuffer out;
        c.write(logger, c.message);
        EXPECT_EQ(out.str(), c.line);
        EXPECT_GE(out.flushes, 1) << c.line;
    }
}

TEST(Exceptions, PkcsExceptionIsNoStdException)
{
    static_assert(!std::is_base_of<std::exception, CPKCSException>::value, "must pass std::exception handlers");
    static_assert(std::has_virtual_destructor<CPKCSException>::value, "polymorphic");
    bool reachedPkcsHandler = false;
    try {
        try {
            throw CPKCSException(CKR_PIN_LOCKED, "CTokenOperator::Authenticate");
        } catch (const std::exception&) {
            ADD_FAILURE() << "caught as std::exception";
        }
    } catch (const CPKCSException& e) {
        reachedPkcsHandler = true;
        EXPECT_EQ(e.m_rv, CKR_PIN_LOCKED);
        EXPECT_EQ(e.m_function, "CTokenOperator::Authenticate");
    }
    EXPECT_TRUE(reachedPkcsHandler);
}

TEST(Exceptions, CustomExceptionTextFromEitherForm)
{
    static_assert(std::is_base_of<std::exception, CustomException>::value, "caught as std::exception");
    EXPECT_STREQ(CustomException(std::string()).what(), "");
    EXPECT_STREQ(CustomException("").what(), "");
    EXPECT_STREQ(CustomException(std::string("from string")).what(), "from string");
    EXPECT_STREQ(CustomException("from text").what(), "from text");
    try {
        throw CustomException("Can not authenticate into token using new PIN");
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Can not authenticate into token using new PIN");
    }
}

TEST(Exceptions, CopiesKeepCodeAndTexts)
{
    const CPKCSException original(0x80000001, "C_FindObjectsInit in CTestsOperator::CleanCard");
    const CPKCSException copy(original);   // NOLINT: the copy is the point
    EXPECT_EQ(copy.m_rv, 0x80000001u);
    EXPECT_EQ(copy.m_function, original.m_function);

    CustomException text(std::string("kept after copy"));
    const CustomException copied(text);
    text = CustomException("changed");
    EXPECT_STREQ(copied.what(), "kept after copy");
}

}  // namespace
