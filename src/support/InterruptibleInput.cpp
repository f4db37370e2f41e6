#include "support/InterruptibleInput.h"

#include "support/InterruptSignals.h"

CInterruptibleInput::CInterruptibleInput()
{
    // Reads stop being restarted first, so a signal from here on cuts the read short.
    CInterruptSignals::RestartReads(false);
    if (CInterruptSignals::Pending() != 0) {
        CInterruptSignals::RestartReads(true);
        CInterruptSignals::ThrowIfPending();
    }
}

CInterruptibleInput::~CInterruptibleInput() { CInterruptSignals::RestartReads(true); }

void CInterruptibleInput::ThrowIfInterrupted() const { CInterruptSignals::ThrowIfPending(); }
