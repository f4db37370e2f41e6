#pragma once
// Console logger: one tagged line per message on standard output, flushed at once, and
// handed to the listener of the process, if one is set.
#include <string>

#include "support/ILogListener.h"

class Logger {
public:
    Logger();
    virtual ~Logger();

    void info(const char* message);
    void info(const std::string& message);
    void debug(const char* message);
    void debug(const std::string& message);
    void error(const char* message);
    void error(const std::string& message);
    void fatal(const char* message);
    void fatal(const std::string& message);

    // The listener every Logger hands its lines to; null for none.
    static void SetListener(ILogListener* listener);

    // While one lives, the listener hears every line as a note on the failure under way.
    class FailureNotes {
    public:
        FailureNotes();
        ~FailureNotes();
        FailureNotes(const FailureNotes&) = delete;
        FailureNotes& operator=(const FailureNotes&) = delete;
    };

private:
    void log(std::string& tag, const char* message);
    void log(std::string& tag, const std::string& message);

    std::string m_infoTag;
    std::string m_debugTag;
    std::string m_errorTag;
    std::string m_fatalTag;
};
