#pragma once
// Receives every line a Logger writes, after it is written: lets a report follow the steps
// of a run without the code that logs them knowing about it.
#include <string>

class ILogListener {
public:
    virtual ~ILogListener() = default;
    // `tag` is "INFO", "ERROR", ...; `message` is the line without the tag.
    virtual void OnLogLine(const std::string& tag, const std::string& message) = 0;
    // A line logged while a failure is being handled (see Logger::FailureNotes): it tells
    // how the clean-up went and belongs to the failure, not to a step of its own.
    virtual void OnFailureNote(const std::string& tag, const std::string& message) = 0;
};
