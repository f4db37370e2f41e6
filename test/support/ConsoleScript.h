#pragma once
// Scripted console for a test: while it lives, std::cin reads the given text (none by
// default) and std::cout writes into a buffer; both streams get their own buffers and
// clean states back afterwards.
#include <sstream>
#include <string>

class ConsoleScript {
public:
    explicit ConsoleScript(const std::string& input = std::string());
    ~ConsoleScript();
    ConsoleScript(const ConsoleScript&) = delete;
    ConsoleScript& operator=(const ConsoleScript&) = delete;

    // What the code under test wrote so far.
    std::string Output() const { return m_out.str(); }
    // What the code under test left unread.
    std::string RemainingInput();

private:
    std::istringstream m_in;
    std::ostringstream m_out;
    std::streambuf* m_savedIn;
    std::streambuf* m_savedOut;
};
