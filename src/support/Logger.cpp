#include "support/Logger.h"

#include <iostream>

namespace {

ILogListener* g_listener = nullptr;
int g_failureNoteScopes = 0;

}  // namespace

void Logger::SetListener(ILogListener* listener) { g_listener = listener; }

Logger::FailureNotes::FailureNotes() { ++g_failureNoteScopes; }

Logger::FailureNotes::~FailureNotes() { --g_failureNoteScopes; }

Logger::Logger() : m_infoTag("INFO"), m_debugTag("DEBUG"), m_errorTag("ERROR"), m_fatalTag("FATAL") {}

Logger::~Logger() = default;

void Logger::info(const char* message) { log(m_infoTag, message); }
void Logger::info(const std::string& message) { log(m_infoTag, message); }
void Logger::debug(const char* message) { log(m_debugTag, message); }
void Logger::debug(const std::string& message) { log(m_debugTag, message); }
void Logger::error(const char* message) { log(m_errorTag, message); }
void Logger::error(const std::string& message) { log(m_errorTag, message); }
void Logger::fatal(const char* message) { log(m_fatalTag, message); }
void Logger::fatal(const std::string& message) { log(m_fatalTag, message); }

void Logger::log(std::string& tag, const std::string& message) { log(tag, message.c_str()); }

void Logger::log(std::string& tag, const char* message)
{
    std::cout << tag << ": " << message << "\n" << std::flush;
    if (g_listener == nullptr) {
        return;
    }
    if (g_failureNoteScopes > 0) {
        g_listener->OnFailureNote(tag, message);
    } else {
        g_listener->OnLogLine(tag, message);
    }
}
