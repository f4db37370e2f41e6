// Preloaded into a tokentest run by the end-to-end cases: once standard output has carried
// every text of KILL_AFTER_OUTPUT ('|' between them, each within one write to the stream)
// in that order, the process sends itself SIGKILL at the flush that ends the last one. That
// stops a run at an exact step, as a power cut would, without timing. KILL_SIGNAL names
// another signal by number (2 for SIGINT, 15 for SIGTERM); KILL_TIMES=2 sends it twice.
// HOLD_AFTER_OUTPUT_FIFO names a directory instead: at that flush the process writes a line
// into its FIFO "ready", then waits until a line comes through its FIFO "go".
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace {

struct Markers {
    std::vector<std::string> texts;
    size_t next = 0;
    bool armed = false;   // every text seen: kill at the next flush of standard output
};

Markers& TheMarkers()
{
    static Markers markers = [] {
        Markers m;
        const char* spec = getenv("KILL_AFTER_OUTPUT");
        std::string rest = spec != nullptr ? spec : "";
        while (!rest.empty()) {
            const size_t bar = rest.find('|');
            m.texts.push_back(rest.substr(0, bar));
            rest = bar == std::string::npos ? std::string() : rest.substr(bar + 1);
        }
        return m;
    }();
    return markers;
}

template <typename Function>
Function Next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" size_t fwrite(const void* data, size_t size, size_t count, FILE* stream)
{
    static const auto real = Next<size_t (*)(const void*, size_t, size_t, FILE*)>("fwrite");
    Markers& m = TheMarkers();
    if (stream == stdout && m.next < m.texts.size()) {
        const std::string chunk(static_cast<const char*>(data), size * count);
        if (chunk.find(m.texts[m.next]) != std::string::npos && ++m.next == m.texts.size()) {
            m.armed = true;
        }
    }
    return real(data, size, count, stream);
}

namespace {

int EnvironmentNumber(const char* name, int fallback)
{
    const char* text = getenv(name);
    return text != nullptr && *text != '\0' ? atoi(text) : fallback;
}

// Tells the test the run got here, then waits for its word.
void Hold(const std::string& directory)
{
    const int ready = open((directory + "/ready").c_str(), O_WRONLY);
    if (ready >= 0) {
        const ssize_t ignored = write(ready, "held\n", 5);
        (void)ignored;
        close(ready);
    }
    const int go = open((directory + "/go").c_str(), O_RDONLY);
    if (go >= 0) {
        char byte = 0;
        const ssize_t ignored = read(go, &byte, 1);
        (void)ignored;
        close(go);
    }
}

}  // namespace

extern "C" int fflush(FILE* stream)
{
    static const auto real = Next<int (*)(FILE*)>("fflush");
    const int result = real(stream);
    Markers& m = TheMarkers();
    if (stream == stdout && m.armed) {
        m.armed = false;
        if (const char* hold = getenv("HOLD_AFTER_OUTPUT_FIFO")) {
            Hold(hold);
            return result;
        }
        const int signalNumber = EnvironmentNumber("KILL_SIGNAL", SIGKILL);
        for (int i = EnvironmentNumber("KILL_TIMES", 1); i > 0; --i) {
            raise(signalNumber);
        }
    }
    return result;
}
