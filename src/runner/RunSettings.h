#pragma once
// The run settings read from the command line: which groups of tests a pass runs and how
// many passes there are, which module and slot to test, the reports to write, plus the
// requests for usage or version and the arguments that matched nothing.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

class CRunSettings {
public:
    // Reads every argument after the program name. Unknown arguments are only warned about;
    // a new option given an unusable value is an error (see `errors`).
    static CRunSettings Parse(int argc, const char* const* argv);
    // The value of a "--passes=" argument: strtol in base 10, clamped to 32 bits.
    static int32_t PassCount(const char* text);
    static void WriteUsage(std::ostream& out);
    static void WriteVersion(std::ostream& out);

    // One line per argument that matched no option or had a value that is not a number.
    void WriteWarnings(std::ostream& out) const;
    // One line per option whose value cannot be used; the run must not start then.
    void WriteErrors(std::ostream& out) const;

    bool skipInitToken = false;
    bool gostTests = false;
    int32_t passes = 1;
    bool skip2048 = false;
    bool skipCert = false;
    bool showHelp = false;
    bool showVersion = false;

    // The module: a path for dlopen (empty: the default name on the loader's path), and
    // whether the vendor steps go through standard calls even where the module has entries.
    std::string modulePath;
    bool standardCalls = false;
    // The slot: a fixed id instead of the prompt, or only the listing of every slot.
    std::optional<unsigned long> slotId;
    bool listSlots = false;
    // Where the test files are read from; always ends with '/'. TestFileDir gives the one
    // the run uses: without --conf-dir and without ../conf/, the installed test files.
    std::string confDir = "../conf/";
    bool confDirGiven = false;
    std::string TestFileDir() const;
    // Reports: JUnit XML file (empty: none), PKCS#11 call trace on standard error.
    std::string junitPath;
    bool trace = false;

    // The options in effect, as arguments that would give them; never a PIN.
    std::string OptionsText() const;

    std::vector<std::string> unknownArguments;
    std::vector<std::string> warnings;
    std::vector<std::string> errors;

private:
    void ParseOne(const char* argument);
    void ParsePasses(const char* argument);
    // Stores a non-empty option value; an empty one is an error.
    bool SetText(std::string& field, const char* argument, const char* value);
};
