#pragma once
// Runs the tokentest binary as a child process in a fresh temporary directory tree:
// <root>/conf holds stand-in test files, <root>/run is the working directory, the fake
// module is on the loader's path, scripted from <root>/script and logging to <root>/calls.
// Standard input is /dev/null unless given; standard output and error are collected.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "TempDir.h"

class ChildRun {
public:
    struct Result {
        int status = -1;
        std::string out;
        std::string err;
        std::vector<std::string> calls;   // entry names from the fake's call log, in order
        std::vector<std::string> logLines;
    };

    ChildRun();
    ChildRun(const ChildRun&) = delete;
    ChildRun& operator=(const ChildRun&) = delete;

    // Script lines for the fake module (see test/fake/ScriptFile.h).
    void Script(const std::string& lines);
    // What the child reads on standard input.
    void Input(const std::string& text) { m_input = text; }
    // Runs without the fake module on the loader's path.
    void WithoutModule() { m_withModule = false; }
    // The fake's call log goes into standard output, so both show in the order they happened.
    void LogIntoOutput() { m_logIntoOutput = true; }

    // An environment variable of the child (XDG_STATE_HOME is <root>/state; the PIN
    // variables are unset unless set here).
    void SetEnvironment(const std::string& name, const std::string& value) { m_environment.emplace_back(name, value); }
    // The child starts with this signal ignored, as a shell leaves a background job's SIGINT.
    void IgnoreSignal(int signalNumber) { m_ignoredSignals.push_back(signalNumber); }

    Result Run(const std::vector<std::string>& arguments);

    // The child's own state directory: token locks and PIN journal.
    std::string StateDirectory() const { return Root() + "/state/tokentest"; }

    const std::string& Root() const { return m_root.Path(); }

private:
    void WriteFile(const std::string& path, const std::string& content);

    TempDir m_root;
    std::string m_script;
    std::optional<std::string> m_input;
    bool m_withModule = true;
    bool m_logIntoOutput = false;
    std::vector<std::pair<std::string, std::string>> m_environment;
    std::vector<int> m_ignoredSignals;
};

// The lines of a text, without their line ends.
std::vector<std::string> SplitLines(const std::string& text);

// A script with one slot holding a token that accepts the default PIN, and C_Sign output
// that passes the GOST MAC check.
std::string HealthyToken();
