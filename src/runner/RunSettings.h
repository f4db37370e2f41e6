#pragma once
// The run settings read from the command line: which groups of tests a pass runs and how
// many passes there are, which module and slot to test, the reports to write, plus the
// requests for usage or version and the arguments that matched nothing.
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

class CRunSettings {
public:
    // One option that takes a value, as "--name=VALUE" or "--name VALUE"; see the table in
    // the source file.
    struct ValueOption;

    // Reads every argument after the program name, then the PINs from TOKENTEST_SO_PIN and
    // TOKENTEST_PIN where no option gave them. Unknown arguments are only warned about;
    // a value option without a value, with an unusable value or given twice with different
    // values is an error (see `errors`), as are options that exclude each other.
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
    // The library parameters C_Initialize hands the module (as NSS softokn reads them); none:
    // C_Initialize gets no arguments.
    std::optional<std::string> initArgs;
    // The slot: a fixed id instead of the prompt, or only the listing of every slot.
    std::optional<unsigned long> slotId;
    bool listSlots = false;
    // The token chosen by its label or serial number instead (empty: not asked for).
    std::string tokenLabel;
    std::string tokenSerial;
    // Where the test files are read from; always ends with '/'. TestFileDir gives the one
    // the run uses: without --conf-dir and without ../conf/, the installed test files.
    std::string confDir = "../conf/";
    bool confDirGiven = false;
    std::string TestFileDir() const;
    // Reports: JUnit XML file (empty: none), PKCS#11 call trace on standard error.
    std::string junitPath;
    bool trace = false;
    // Every step of every pass reaches a verdict; a summary follows the last pass.
    bool keepGoing = false;
    // The PINs the pass uses and restores (never printed).
    std::string soPin = "52816037";
    std::string userPin = "52816037";

    // The options in effect, as arguments that would give them; never a PIN.
    std::string OptionsText() const;

    std::vector<std::string> unknownArguments;
    std::vector<std::string> warnings;
    std::vector<std::string> errors;

private:
    // True when it took `next` as the value of `argument`.
    bool ParseOne(const char* argument, const char* next);
    bool ParseFlag(const char* argument);
    void ParsePasses(const char* argument);
    // `value` is null when none was given.
    void SetValue(const ValueOption& option, const char* value, const std::string& shown);
    void CheckCombinations();
    void TakePinsFromEnvironment();
    void WarnAboutCountingPasses();

    // The first value each value option was given, by option name.
    std::map<std::string, std::string> m_givenValues;
    // The "--passes=" argument the count comes from.
    std::string m_countingPasses;
};
