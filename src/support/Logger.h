#pragma once
// Console logger: one tagged line per message on standard output, flushed at once.
#include <string>

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

private:
    void log(std::string& tag, const char* message);
    void log(std::string& tag, const std::string& message);

    std::string m_infoTag;
    std::string m_debugTag;
    std::string m_errorTag;
    std::string m_fatalTag;
};
