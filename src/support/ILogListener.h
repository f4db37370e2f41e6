#pragma once
// Receives every line a Logger writes, after it is written: lets a report follow the steps
// of a run without the code that logs them knowing about it.
#include <string>

class ILogListener {
public:
    virtual ~ILogListener() = default;
    // `tag` is "INFO", "ERROR", ...; `message` is the line without the tag.
    virtual void OnLogLine(const std::string& tag, const std::string& message) = 0;
};
