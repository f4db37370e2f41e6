#include "ChildRun.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// PEM armour around a few arbitrary bytes: the fake module does not parse certificates.
const char kPem[] =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIBAAECAwQFBgcICQ==\n"
    "-----END CERTIFICATE-----\n";

}  // namespace

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string HealthyToken()
{
    return "slot 1 present Fake reader\n"
           "output C_Sign 0d7fd089\n";
}

ChildRun::ChildRun()
    : m_root("tokentest-run-")
{
    std::filesystem::create_directory(Root() + "/conf");
    std::filesystem::create_directory(Root() + "/run");
    for (const char* name : {"ca", "ca_gost"}) {
        WriteFile(Root() + "/conf/" + name + ".crt", std::string("\x30\x03\x02\x01\x01", 5));
        WriteFile(Root() + "/conf/" + name + ".cer", kPem);
    }
    WriteFile(Root() + "/conf/clientTest2.p12", std::string("\x30\x04\x02\x01\x03\x00", 6));
    WriteFile(Root() + "/conf/clientGostA.p12", std::string("\x30\x04\x02\x01\x03\x01", 6));
}

void ChildRun::WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

void ChildRun::Script(const std::string& lines) { m_script = lines; }

ChildRun::Result ChildRun::Run(const std::vector<std::string>& arguments)
{
    const std::string script = Root() + "/script";
    const std::string out = Root() + "/stdout";
    const std::string log = m_logIntoOutput ? out : Root() + "/calls";
    const std::string err = Root() + "/stderr";
    WriteFile(script, m_script);
    WriteFile(log, "");
    WriteFile(out, "");
    const std::string input = m_input ? Root() + "/stdin" : std::string("/dev/null");
    if (m_input) {
        WriteFile(input, *m_input);
    }

    std::vector<std::string> argumentStore{TOKENTEST_BINARY};
    argumentStore.insert(argumentStore.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argumentStore) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const std::string libraryPath = m_withModule ? FAKE_MODULE_DIR : Root() + "/conf";
    const std::string runDirectory = Root() + "/run";

    const pid_t child = fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        const int in = open(input.c_str(), O_RDONLY);
        const int outFd = open(out.c_str(), O_WRONLY | O_APPEND);
        const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || outFd < 0 || errFd < 0 || dup2(in, 0) < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0 ||
            chdir(runDirectory.c_str()) != 0) {
            _exit(126);
        }
        setenv("LD_LIBRARY_PATH", libraryPath.c_str(), 1);
        setenv("FAKE_PKCS11_SCRIPT", script.c_str(), 1);
        setenv("FAKE_PKCS11_LOG", log.c_str(), 1);
        // Token locks and PIN journal of this test alone.
        setenv("XDG_STATE_HOME", (Root() + "/state").c_str(), 1);
        unsetenv("TOKENTEST_SO_PIN");
        unsetenv("TOKENTEST_PIN");
        for (const auto& variable : m_environment) {
            setenv(variable.first.c_str(), variable.second.c_str(), 1);
        }
        for (int signalNumber : m_ignoredSignals) {
            signal(signalNumber, SIG_IGN);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    Result result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadWhole(out);
    result.err = ReadWhole(err);
    std::istringstream lines(ReadWhole(log));
    for (std::string line; std::getline(lines, line);) {
        result.logLines.push_back(line);
        result.calls.push_back(line.substr(0, line.find(' ')));
    }
    return result;
}
