#include "support/TerminalEchoGuard.h"

#include <signal.h>
#include <unistd.h>

namespace {

// What a signal handler needs to give the terminal back: plain data, set before the
// handlers are installed and cleared after they are gone.
termios g_saved{};
volatile sig_atomic_t g_restoreOnSignal = 0;

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
const int kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);
struct sigaction g_previous[kSignalCount];

// Echo back on, the handler that was there before, and the signal again: the process ends
// (or carries on) as it would have without the guard.
extern "C" void RestoreAndReraise(int signalNumber)
{
    if (g_restoreOnSignal != 0) {
        tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    }
    for (int i = 0; i < kSignalCount; ++i) {
        if (kSignals[i] == signalNumber) {
            sigaction(signalNumber, &g_previous[i], nullptr);
        }
    }
    raise(signalNumber);
}

void InstallHandlers()
{
    struct sigaction action {};
    action.sa_handler = RestoreAndReraise;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) {
        sigaction(kSignals[i], &action, &g_previous[i]);
    }
}

void RemoveHandlers()
{
    for (int i = 0; i < kSignalCount; ++i) {
        sigaction(kSignals[i], &g_previous[i], nullptr);
    }
}

}  // namespace

TerminalEchoGuard::TerminalEchoGuard()
{
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &m_saved) != 0) {
        return;
    }
    g_saved = m_saved;
    g_restoreOnSignal = 1;
    InstallHandlers();
    termios quiet = m_saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    m_active = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
    if (!m_active) {
        RemoveHandlers();
        g_restoreOnSignal = 0;
    }
}

TerminalEchoGuard::~TerminalEchoGuard()
{
    if (m_active) {
        tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
        RemoveHandlers();
        g_restoreOnSignal = 0;
    }
}
