#pragma once
// While it lives, the first SIGINT, SIGTERM or SIGHUP only marks the run as interrupted
// (the PKCS#11 call in progress finishes); the run stops at its next check. A second signal
// ends the process at once. Signals the parent left ignored stay ignored.
#include <signal.h>

class CInterruptSignals {
public:
    CInterruptSignals();
    ~CInterruptSignals();
    CInterruptSignals(const CInterruptSignals&) = delete;
    CInterruptSignals& operator=(const CInterruptSignals&) = delete;

    // The signal that interrupted the run, or 0.
    static int Pending();
    // Throws CInterruptException when a signal has come.
    static void ThrowIfPending();
    // Blocking reads return early (EINTR) on a signal when false; they are restarted when
    // true, so that a module's own calls are not cut short.
    static void RestartReads(bool restart);
};
