#include "support/InterruptSignals.h"

#include "support/InterruptException.h"

namespace {

const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
const int kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);

volatile sig_atomic_t g_pending = 0;
bool g_installed[kSignalCount] = {};
struct sigaction g_previous[kSignalCount];

extern "C" void MarkInterrupted(int signalNumber)
{
    if (g_pending == 0) {
        g_pending = signalNumber;
        return;
    }
    // Asked twice: the default action, now.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signalNumber, &fallback, nullptr);
    raise(signalNumber);
}

void Install(int index, bool restart, struct sigaction* previous)
{
    struct sigaction action {};
    action.sa_handler = MarkInterrupted;
    sigemptyset(&action.sa_mask);
    action.sa_flags = restart ? SA_RESTART : 0;
    sigaction(kSignals[index], &action, previous);
}

}  // namespace

CInterruptSignals::CInterruptSignals()
{
    g_pending = 0;
    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction current {};
        sigaction(kSignals[i], nullptr, &current);
        // A background job's SIGINT is ignored on purpose by its shell.
        if (current.sa_handler == SIG_IGN) {
            continue;
        }
        Install(i, true, &g_previous[i]);
        g_installed[i] = true;
    }
}

CInterruptSignals::~CInterruptSignals()
{
    for (int i = 0; i < kSignalCount; ++i) {
        if (g_installed[i]) {
            sigaction(kSignals[i], &g_previous[i], nullptr);
            g_installed[i] = false;
        }
    }
}

int CInterruptSignals::Pending() { return g_pending; }

void CInterruptSignals::ThrowIfPending()
{
    if (g_pending != 0) {
        throw CInterruptException(g_pending);
    }
}

void CInterruptSignals::RestartReads(bool restart)
{
    for (int i = 0; i < kSignalCount; ++i) {
        if (g_installed[i]) {
            Install(i, restart, nullptr);
        }
    }
}
