#include "support/TerminalEchoGuard.h"

#include <unistd.h>

TerminalEchoGuard::TerminalEchoGuard()
{
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &m_saved) != 0) {
        return;
    }
    termios quiet = m_saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    m_active = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
}

TerminalEchoGuard::~TerminalEchoGuard()
{
    if (m_active) {
        tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    }
}
