// Test entry point: standard input is /dev/null, so nothing here ever waits for a person or
// changes the settings of the terminal the tests were started from.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) {
        dup2(devNull, STDIN_FILENO);
        close(devNull);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
