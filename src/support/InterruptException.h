#pragma once
// Thrown when a signal asked the run to stop. Deliberately not a std::exception: handlers
// that turn failures of a step into a report must let it through to main.
class CInterruptException {
public:
    explicit CInterruptException(int signalNumber) : m_signal(signalNumber) {}

    int Signal() const { return m_signal; }

private:
    int m_signal;
};
