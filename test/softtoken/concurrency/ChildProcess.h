#pragma once
// A forked helper process driven through two pipes: the parent sends one-byte commands, the
// child answers each with one number. The child ends when its command pipe closes; the
// parent waits for it when the object goes. No timing is involved anywhere.
#include <sys/types.h>

#include <functional>

namespace softtoken_test {

class ChildProcess {
public:
    // The child's side of the pipes.
    class Channel {
    public:
        Channel(int commands, int answers) : m_commands(commands), m_answers(answers) {}
        bool Next(char& command);     // false once the parent has closed the pipe
        void Answer(long long value);

    private:
        int m_commands;
        int m_answers;
    };

    // Forks; the child runs body and exits with status 0 (1 when it threw).
    explicit ChildProcess(std::function<void(Channel&)> body);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void Send(char command);
    // The child's next answer; kDied when it ended before giving one.
    long long Receive();
    static constexpr long long kDied = -999999;

private:
    pid_t m_pid = -1;
    int m_commands = -1;  // parent writes
    int m_answers = -1;   // parent reads
};

}  // namespace softtoken_test
