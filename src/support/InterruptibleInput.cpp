#include "support/InterruptibleInput.h"

#include <iostream>

#include "support/InterruptSignals.h"

namespace {

// The prompt has no line end of its own: the report that follows gets a line of its own.
void EndPromptIfInterrupted()
{
    if (CInterruptSignals::Pending() != 0) {
        std::cout << "\n" << std::flush;
        CInterruptSignals::ThrowIfPending();
    }
}

}  // namespace

CInterruptibleInput::CInterruptibleInput()
{
    // Reads stop being restarted first, so a signal from here on cuts the read short.
    CInterruptSignals::RestartReads(false);
    if (CInterruptSignals::Pending() != 0) {
        CInterruptSignals::RestartReads(true);
        EndPromptIfInterrupted();
    }
}

CInterruptibleInput::~CInterruptibleInput() { CInterruptSignals::RestartReads(true); }

void CInterruptibleInput::ThrowIfInterrupted() const { EndPromptIfInterrupted(); }
