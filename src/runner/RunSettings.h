#pragma once
// The run settings read from the command line: which groups of tests a pass runs and how
// many passes there are, plus the request for usage and the arguments that matched nothing.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

class CRunSettings {
public:
    // Reads every argument after the program name; nothing here is ever an error.
    static CRunSettings Parse(int argc, const char* const* argv);
    // The value of a "--passes=" argument: strtol in base 10, clamped to 32 bits.
    static int32_t PassCount(const char* text);
    static void WriteUsage(std::ostream& out);

    // One line per argument that matched no option.
    void WriteWarnings(std::ostream& out) const;

    bool skipInitToken = false;
    bool gostTests = false;
    int32_t passes = 1;
    bool skip2048 = false;
    bool skipCert = false;
    bool showHelp = false;
    std::vector<std::string> unknownArguments;
};
