#pragma once
// Around a read of the operator's answer: a signal makes the read return instead of waiting
// for a line, and the interrupt is thrown before and after the read.
class CInterruptibleInput {
public:
    CInterruptibleInput();
    ~CInterruptibleInput();
    CInterruptibleInput(const CInterruptibleInput&) = delete;
    CInterruptibleInput& operator=(const CInterruptibleInput&) = delete;

    // Throws CInterruptException when a signal came during the read, after ending the
    // prompt's line.
    void ThrowIfInterrupted() const;
};
