#include "ChildProcess.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <stdexcept>

namespace softtoken_test {
namespace {

bool WriteAll(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool ReadAll(int fd, void* data, size_t size) {
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = read(fd, bytes, size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

// The parent's ends of the pipes of every child alive. A new child closes its copies, so
// that each child sees the end of its commands as soon as the parent closes them.
std::set<int>& ParentEnds() {
    static std::set<int> ends;
    return ends;
}

}  // namespace

bool ChildProcess::Channel::Next(char& command) { return ReadAll(m_commands, &command, 1); }

void ChildProcess::Channel::Answer(long long value) {
    if (!WriteAll(m_answers, &value, sizeof value)) _exit(2);
}

ChildProcess::ChildProcess(std::function<void(Channel&)> body) {
    signal(SIGPIPE, SIG_IGN);  // a child that died shows as an answer that never comes
    int commands[2], answers[2];
    if (pipe(commands) != 0) throw std::runtime_error("pipe failed");
    if (pipe(answers) != 0) {
        close(commands[0]);
        close(commands[1]);
        throw std::runtime_error("pipe failed");
    }
    m_pid = fork();
    if (m_pid == 0) {
        for (int end : ParentEnds()) close(end);
        close(commands[1]);
        close(answers[0]);
        Channel channel(commands[0], answers[1]);
        int status = 0;
        try {
            body(channel);
        } catch (...) {
            status = 1;
        }
        _exit(status);  // no exit handlers of the parent's copy
    }
    close(commands[0]);
    close(answers[1]);
    m_commands = commands[1];
    m_answers = answers[0];
    if (m_pid < 0) {
        close(m_commands);
        close(m_answers);
        throw std::runtime_error("fork failed");
    }
    ParentEnds().insert({m_commands, m_answers});
}

ChildProcess::~ChildProcess() {
    ParentEnds().erase(m_commands);
    ParentEnds().erase(m_answers);
    close(m_commands);
    close(m_answers);
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
}

void ChildProcess::Send(char command) { WriteAll(m_commands, &command, 1); }

long long ChildProcess::Receive() {
    long long value = 0;
    return ReadAll(m_answers, &value, sizeof value) ? value : kDied;
}

}  // namespace softtoken_test
