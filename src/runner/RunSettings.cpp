#include "runner/RunSettings.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sys/stat.h>

#include "support/InstalledPaths.h"

namespace {

const char kPassesPrefix[] = "--passes=";
const size_t kPassesPrefixLength = sizeof(kPassesPrefix) - 1;

bool Is(const char* argument, const char* option) { return std::strcmp(argument, option) == 0; }

// The value after `prefix` ("--module=" ...), or nullptr when the argument is another one.
const char* ValueOf(const char* argument, const char* prefix)
{
    const size_t length = std::strlen(prefix);
    return std::strncmp(argument, prefix, length) == 0 ? argument + length : nullptr;
}

// A count strtol reads whole: digits with an optional sign and leading blanks, nothing after.
bool IsWholeNumber(const char* text)
{
    errno = 0;
    char* end = nullptr;
    std::strtol(text, &end, 10);
    return end != text && *end == '\0';
}

// A slot id: decimal digits only, within unsigned long.
std::optional<unsigned long> SlotIdOf(const char* text)
{
    if (*text < '0' || *text > '9') {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*end != '\0' || errno == ERANGE) {
        return std::nullopt;
    }
    return value;
}

std::string WithTrailingSlash(std::string directory)
{
    if (directory.back() != '/') {
        directory += '/';
    }
    return directory;
}

// ---- Options ----------------------------------------------------------------------------

struct FlagOption {
    const char* name;
    bool CRunSettings::*field;
};

const FlagOption kFlagOptions[] = {
    {"--skip-init-token", &CRunSettings::skipInitToken},
    {"--gost", &CRunSettings::gostTests},
    {"--skip-2048", &CRunSettings::skip2048},
    {"--skip-cert", &CRunSettings::skipCert},
    {"--help", &CRunSettings::showHelp},
    {"-h", &CRunSettings::showHelp},
    {"--version", &CRunSettings::showVersion},
    {"--standard-calls", &CRunSettings::standardCalls},
    {"--list-slots", &CRunSettings::listSlots},
    {"--trace", &CRunSettings::trace},
    {"--keep-going", &CRunSettings::keepGoing},
};

template <std::string CRunSettings::*Field>
bool StoreText(CRunSettings& settings, const std::string& value)
{
    settings.*Field = value;
    return true;
}

// A label or serial number: the token pads its fields with blanks, so blanks alone say nothing.
template <std::string CRunSettings::*Field>
bool StoreTokenField(CRunSettings& settings, const std::string& value)
{
    settings.*Field = value;
    return value.find_first_not_of(' ') != std::string::npos;
}

bool StoreDirectory(CRunSettings& settings, const std::string& value)
{
    settings.confDir = WithTrailingSlash(value);
    settings.confDirGiven = true;
    return true;
}

bool StoreInitArgs(CRunSettings& settings, const std::string& value)
{
    settings.initArgs = value;
    return true;
}

bool StoreSlotId(CRunSettings& settings, const std::string& value)
{
    settings.slotId = SlotIdOf(value.c_str());
    return settings.slotId.has_value();
}

}  // namespace

struct CRunSettings::ValueOption {
    const char* name;
    // Stores a non-empty value; false when the value cannot be used.
    bool (*store)(CRunSettings& settings, const std::string& value);
    // Said about a value that `store` refused.
    const char* requirement;
    // A secret value (a PIN) never appears in a message.
    bool secret;
};

namespace {

// Every option that takes a value; one row each.
const CRunSettings::ValueOption kValueOptions[] = {
    {"--module", StoreText<&CRunSettings::modulePath>, "", false},
    {"--slot", StoreSlotId, "the slot id must be a decimal number", false},
    {"--conf-dir", StoreDirectory, "", false},
    {"--junit", StoreText<&CRunSettings::junitPath>, "", false},
    {"--init-args", StoreInitArgs, "", false},
    {"--token-label", StoreTokenField<&CRunSettings::tokenLabel>, "blanks alone match no label", false},
    {"--token-serial", StoreTokenField<&CRunSettings::tokenSerial>, "blanks alone match no serial number", false},
    {"--so-pin", StoreText<&CRunSettings::soPin>, "", true},
    {"--pin", StoreText<&CRunSettings::userPin>, "", true},
};

// An argument that names a value option, and where its value is.
struct ValueArgument {
    const CRunSettings::ValueOption* option = nullptr;
    const char* value = nullptr;   // null: no value given
    bool usesNext = false;
    std::string shown;             // how messages show the argument
};

// A value is the rest after "--name=", or the next argument unless that is an option itself
// (starts with '-'): a forgotten value must not swallow the next option.
ValueArgument FindValueArgument(const char* argument, const char* next)
{
    ValueArgument found;
    for (const CRunSettings::ValueOption& option : kValueOptions) {
        if (Is(argument, option.name)) {
            found.option = &option;
            found.usesNext = next != nullptr && *next != '-';
            found.value = found.usesNext ? next : nullptr;
            found.shown = option.secret || !found.usesNext ? std::string(argument) : std::string(argument) + " " + next;
            return found;
        }
        const std::string prefix = std::string(option.name) + "=";
        if (const char* value = ValueOf(argument, prefix.c_str())) {
            found.option = &option;
            found.value = value;
            found.shown = option.secret ? prefix : std::string(argument);
            return found;
        }
    }
    return found;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

int32_t CRunSettings::PassCount(const char* text)
{
    // strtol clamps to long; the count is 32 bits, so clamp once more.
    const long value = std::strtol(text, nullptr, 10);
    if (value > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    if (value < std::numeric_limits<int32_t>::min()) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(value);
}

CRunSettings CRunSettings::Parse(int argc, const char* const* argv)
{
    CRunSettings settings;
    for (int i = 1; i < argc; ++i) {
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (settings.ParseOne(argv[i], next)) {
            ++i;
        }
    }
    settings.WarnAboutCountingPasses();
    settings.CheckCombinations();
    settings.TakePinsFromEnvironment();
    return settings;
}

bool CRunSettings::ParseOne(const char* argument, const char* next)
{
    if (std::strncmp(argument, kPassesPrefix, kPassesPrefixLength) == 0) {
        ParsePasses(argument);
        return false;
    }
    if (ParseFlag(argument)) {
        return false;
    }
    const ValueArgument found = FindValueArgument(argument, next);
    if (found.option == nullptr) {
        unknownArguments.push_back(argument);
        return false;
    }
    SetValue(*found.option, found.value, found.shown);
    return found.usesNext;
}

bool CRunSettings::ParseFlag(const char* argument)
{
    for (const FlagOption& flag : kFlagOptions) {
        if (Is(argument, flag.name)) {
            this->*flag.field = true;
            return true;
        }
    }
    return false;
}

void CRunSettings::ParsePasses(const char* argument)
{
    // The first value of 2 or more fixes the count; smaller ones leave the next in force.
    if (passes < 2) {
        passes = PassCount(argument + kPassesPrefixLength);
        m_countingPasses = argument;
    }
}

void CRunSettings::WarnAboutCountingPasses()
{
    const char* value = m_countingPasses.c_str() + std::min(m_countingPasses.size(), kPassesPrefixLength);
    if (!m_countingPasses.empty() && !IsWholeNumber(value)) {
        warnings.push_back(Quoted(m_countingPasses) + " is not a whole number: read as " +
                           std::to_string(PassCount(value)));
    }
}

void CRunSettings::SetValue(const ValueOption& option, const char* value, const std::string& shown)
{
    if (value == nullptr || *value == '\0') {
        errors.push_back(Quoted(shown) + " needs a value");
        return;
    }
    const auto given = m_givenValues.emplace(option.name, value);
    if (!given.second) {
        if (given.first->second != value) {
            errors.push_back(Quoted(option.name) + " is given twice with different values" +
                             (option.secret ? std::string() : " (" + Quoted(given.first->second) + ", " +
                                                                  Quoted(value) + ")"));
        }
        return;
    }
    if (!option.store(*this, value)) {
        errors.push_back(Quoted(shown) + ": " + option.requirement);
    }
}

void CRunSettings::CheckCombinations()
{
    if (slotId && (!tokenLabel.empty() || !tokenSerial.empty())) {
        errors.push_back("\"--slot\" cannot be combined with \"--token-label\" or \"--token-serial\"");
    }
}

void CRunSettings::TakePinsFromEnvironment()
{
    // The options win; an empty variable counts as unset.
    const char* so = std::getenv("TOKENTEST_SO_PIN");
    if (m_givenValues.count("--so-pin") == 0 && so != nullptr && *so != '\0') {
        soPin = so;
    }
    const char* user = std::getenv("TOKENTEST_PIN");
    if (m_givenValues.count("--pin") == 0 && user != nullptr && *user != '\0') {
        userPin = user;
    }
}

void CRunSettings::WriteWarnings(std::ostream& out) const
{
    for (const std::string& argument : unknownArguments) {
        out << "ignoring unknown argument \"" << argument << "\"\n";
    }
    for (const std::string& warning : warnings) {
        out << "warning: " << warning << "\n";
    }
    out.flush();
}

void CRunSettings::WriteErrors(std::ostream& out) const
{
    for (const std::string& error : errors) {
        out << "error: " << error << "\n";
    }
    out.flush();
}

void CRunSettings::WriteVersion(std::ostream& out) { out << "tokentest " << TOKENTEST_VERSION << "\n" << std::flush; }

void CRunSettings::WriteUsage(std::ostream& out)
{
    out << "Usage: tokentest [options]\n"
           "Tests the token behind a PKCS#11 module (by default libnimb_pkcs11_main.so, found on\n"
           "the loader's search path, else the installed one). Test files are read from\n"
           "../conf/, else from the installed ones; the CSR files are written into the working\n"
           "directory. The token is initialised and every object on it is deleted.\n"
           "\n"
           "Options:\n"
           "  --skip-init-token  do not initialise the token; it must already accept the\n"
           "                     run's PINs (52816037 unless set) for the user and the SO\n"
           "  --gost             run the GOST tests instead of the RSA 2048 tests\n"
           "  --passes=N         run the tests N times (default 1; 0 or less runs none)\n"
           "  --skip-2048        skip the RSA 2048 tests\n"
           "  --skip-cert        skip the certificate import tests\n"
           "  --module=PATH      load the PKCS#11 module from PATH\n"
           "  --standard-calls   do the certificate, PKCS#12 and CSR steps with standard\n"
           "                     PKCS#11 calls even when the module has vendor entries\n"
           "  --init-args=TEXT   give C_Initialize the module's library parameters TEXT (in\n"
           "                     pReserved, with OS locking), as NSS softokn needs them\n"
           "  --slot=ID          test the token in slot ID without asking\n"
           "  --token-label=LABEL, --token-serial=SERIAL\n"
           "                     test the one token with that label or serial number\n"
           "                     (both given: both must match); not with --slot\n"
           "  --list-slots       list every slot and its token, then exit; touches no token\n"
           "  --conf-dir=DIR     read the test files from DIR instead of ../conf/\n"
           "  --junit=FILE       write a JUnit XML report of the run to FILE\n"
           "  --trace            write every PKCS#11 call to standard error (PINs masked)\n"
           "  --keep-going       go on after a failing step: every step of every pass gets a\n"
           "                     verdict (passed, failed, skipped for what the token lacks, not\n"
           "                     run for a failed step it needs), then a summary; status 2\n"
           "                     when a step failed\n"
           "  --so-pin=PIN       the SO PIN the pass formats the token with, uses and restores\n"
           "                     (default 52816037, or $TOKENTEST_SO_PIN)\n"
           "  --pin=PIN          the user PIN the pass logs in with, uses and restores\n"
           "                     (default 52816037, or $TOKENTEST_PIN)\n"
           "  --version          print the version and exit\n"
           "  -h, --help         show this text and exit\n"
           "The options with a value (all but --passes=) also take it as the next argument\n"
           "(--module PATH) unless that starts with '-'. A value option without a value, or\n"
           "given twice with different values, is an error. Other arguments are ignored with a\n"
           "warning on standard error.\n"
           "\n"
           "Exit status:\n"
           "  0      every pass ran, or no pass was asked for\n"
           "  1      the PKCS#11 module cannot be loaded\n"
           "  2      a test failed, a test file cannot be read, an option is unusable, no single\n"
           "         token matches the slot or token asked for, or another run is testing the\n"
           "         token; the line before names the failure\n"
           "  3      no slot holds a token\n"
           "  4      a PIN about to be used is locked or at its final try; nothing was tried\n"
           "  128+N  interrupted by signal N (130 SIGINT, 143 SIGTERM, 129 SIGHUP): the step\n"
           "         running finished, a temporary PIN was set back, the report was written\n"
           "  255    the token refused the default PIN\n"
           "\n"
           "The PIN change tests set each PIN to the temporary PIN 26074913 (another one when\n"
           "--so-pin or --pin gives that) and back. When a test fails or the run is interrupted\n"
           "meanwhile, the run tries once to set it back and says whether it could; if not, it\n"
           "prints the pkcs11-tool command that restores that PIN. A second signal ends the run at\n"
           "once. Before each change the run records the token and the PIN in\n"
           "$XDG_STATE_HOME/tokentest/ (default ~/.local/state/tokentest/); a run killed meanwhile\n"
           "leaves the record, and the next run on that token sets the PIN back before anything\n"
           "else. The same directory holds a lock per token serial number: a second run on a\n"
           "token that another run is testing stops with status 2 before touching it.\n"
        << std::flush;
}

std::string CRunSettings::TestFileDir() const
{
    const auto isDirectory = [](const std::string& path) {
        struct stat status;
        return !path.empty() && stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
    };
    if (confDirGiven || isDirectory(confDir)) {
        return confDir;
    }
    // Without either, the missing ../conf/ is what the run reports.
    const std::string installed = CInstalledPaths::ConfDir();
    return isDirectory(installed) ? installed : confDir;
}

std::string CRunSettings::OptionsText() const
{
    // Built from the settings rather than copied from the command line, so that no option
    // value that is a secret can ever get into a report.
    std::string text = "--passes=" + std::to_string(passes);
    const auto add = [&text](bool given, const std::string& option) {
        if (given) {
            text += " " + option;
        }
    };
    add(skipInitToken, "--skip-init-token");
    add(gostTests, "--gost");
    add(skip2048, "--skip-2048");
    add(skipCert, "--skip-cert");
    add(standardCalls, "--standard-calls");
    add(trace, "--trace");
    add(!modulePath.empty(), "--module=" + modulePath);
    add(slotId.has_value(), "--slot=" + std::to_string(slotId.value_or(0)));
    add(confDirGiven, "--conf-dir=" + confDir);
    add(!junitPath.empty(), "--junit=" + junitPath);
    add(keepGoing, "--keep-going");
    add(initArgs.has_value(), "--init-args=" + initArgs.value_or(""));
    add(!tokenLabel.empty(), "--token-label=" + tokenLabel);
    add(!tokenSerial.empty(), "--token-serial=" + tokenSerial);
    // The PINs themselves never: only that other ones were given.
    add(soPin != "52816037", "--so-pin=***");
    add(userPin != "52816037", "--pin=***");
    return text;
}
