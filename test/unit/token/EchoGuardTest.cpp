// The PIN prompt's echo guard on a pseudo-terminal: echo is off while it lives and back on
// afterwards, also when a signal ends the process while the PIN is being typed.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "support/TerminalEchoGuard.h"

namespace {

class EchoGuardTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(m_master, 0);
        ASSERT_EQ(grantpt(m_master), 0);
        ASSERT_EQ(unlockpt(m_master), 0);
        m_slaveName = ptsname(m_master);
        m_slave = open(m_slaveName.c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(m_slave, 0);
        termios settings{};
        ASSERT_EQ(tcgetattr(m_slave, &settings), 0);
        settings.c_lflag |= ECHO;
        ASSERT_EQ(tcsetattr(m_slave, TCSANOW, &settings), 0);
    }

    void TearDown() override
    {
        close(m_slave);
        close(m_master);
    }

    bool Echoes() const
    {
        termios settings{};
        EXPECT_EQ(tcgetattr(m_slave, &settings), 0);
        return (settings.c_lflag & ECHO) != 0;
    }

    int m_master = -1;
    int m_slave = -1;
    std::string m_slaveName;
};

// 0: the guard simply ends; otherwise the signal that ends the process while it lives.
TEST_P(EchoGuardTest, EchoComesBack)
{
    const int signalNumber = GetParam();
    int ready[2];
    int go[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int terminal = open(m_slaveName.c_str(), O_RDWR | O_NOCTTY);
        if (terminal < 0 || dup2(terminal, STDIN_FILENO) < 0) _exit(10);
        {
            TerminalEchoGuard guard;
            if (!guard.Active()) _exit(11);
            if (write(ready[1], "q", 1) != 1) _exit(12);
            if (signalNumber != 0) {
                for (;;) pause();
            }
            char next = 0;
            if (read(go[0], &next, 1) != 1) _exit(14);
        }
        if (write(ready[1], "e", 1) != 1) _exit(13);
        _exit(0);
    }
    close(ready[1]);
    char state = 0;
    ASSERT_EQ(read(ready[0], &state, 1), 1);
    EXPECT_FALSE(Echoes());
    if (signalNumber != 0) {
        ASSERT_EQ(kill(child, signalNumber), 0);
    } else {
        ASSERT_EQ(write(go[1], "g", 1), 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(ready[0]);
    close(go[0]);
    close(go[1]);
    if (signalNumber != 0) {
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), signalNumber);
    } else {
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    EXPECT_TRUE(Echoes());
}

INSTANTIATE_TEST_SUITE_P(Endings, EchoGuardTest, ::testing::Values(0, SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 0 ? std::string("Normal") : "Signal" + std::to_string(info.param);
                         });

}  // namespace
