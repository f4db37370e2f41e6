#pragma once
// Turns terminal echo off for standard input while it lives, when standard input is a
// terminal, and restores the previous settings on every exit path, also when SIGINT,
// SIGTERM, SIGHUP or SIGQUIT ends the process meanwhile.
#include <termios.h>

class TerminalEchoGuard {
public:
    TerminalEchoGuard();
    ~TerminalEchoGuard();
    TerminalEchoGuard(const TerminalEchoGuard&) = delete;
    TerminalEchoGuard& operator=(const TerminalEchoGuard&) = delete;

    bool Active() const { return m_active; }

private:
    termios m_saved{};
    bool m_active = false;
};
