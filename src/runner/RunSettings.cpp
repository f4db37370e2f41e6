#include "runner/RunSettings.h"

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
        settings.ParseOne(argv[i]);
    }
    return settings;
}

void CRunSettings::ParseOne(const char* argument)
{
    const char* value = nullptr;
    if (Is(argument, "--skip-init-token")) {
        skipInitToken = true;
    } else if (Is(argument, "--gost")) {
        gostTests = true;
    } else if (std::strncmp(argument, kPassesPrefix, kPassesPrefixLength) == 0) {
        ParsePasses(argument);
    } else if (Is(argument, "--skip-2048")) {
        skip2048 = true;
    } else if (Is(argument, "--skip-cert")) {
        skipCert = true;
    } else if (Is(argument, "--help") || Is(argument, "-h")) {
        showHelp = true;
    } else if (Is(argument, "--version")) {
        showVersion = true;
    } else if (Is(argument, "--standard-calls")) {
        standardCalls = true;
    } else if (Is(argument, "--list-slots")) {
        listSlots = true;
    } else if (Is(argument, "--trace")) {
        trace = true;
    } else if ((value = ValueOf(argument, "--module=")) != nullptr) {
        SetText(modulePath, argument, value);
    } else if ((value = ValueOf(argument, "--junit=")) != nullptr) {
        SetText(junitPath, argument, value);
    } else if ((value = ValueOf(argument, "--conf-dir=")) != nullptr) {
        if (SetText(confDir, argument, value)) {
            confDir = WithTrailingSlash(confDir);
            confDirGiven = true;
        }
    } else if ((value = ValueOf(argument, "--slot=")) != nullptr) {
        slotId = SlotIdOf(value);
        if (!slotId) {
            errors.push_back(std::string("\"") + argument + "\": the slot id must be a decimal number");
        }
    } else {
        unknownArguments.push_back(argument);
    }
}

void CRunSettings::ParsePasses(const char* argument)
{
    const char* value = argument + kPassesPrefixLength;
    // The first value of 2 or more fixes the count; smaller ones leave the next in force.
    if (passes < 2) {
        passes = PassCount(value);
    }
    if (!IsWholeNumber(value)) {
        warnings.push_back(std::string("\"") + argument + "\" is not a whole number: read as " +
                           std::to_string(PassCount(value)));
    }
}

bool CRunSettings::SetText(std::string& field, const char* argument, const char* value)
{
    if (*value == '\0') {
        errors.push_back(std::string("\"") + argument + "\" needs a value");
        return false;
    }
    field = value;
    return true;
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
           "                     PIN 52816037 for the user and the security officer\n"
           "  --gost             run the GOST tests instead of the RSA 2048 tests\n"
           "  --passes=N         run the tests N times (default 1; 0 or less runs none)\n"
           "  --skip-2048        skip the RSA 2048 tests\n"
           "  --skip-cert        skip the certificate import tests\n"
           "  --module=PATH      load the PKCS#11 module from PATH\n"
           "  --standard-calls   do the certificate, PKCS#12 and CSR steps with standard\n"
           "                     PKCS#11 calls even when the module has vendor entries\n"
           "  --slot=ID          test the token in slot ID without asking\n"
           "  --list-slots       list every slot and its token, then exit; touches no token\n"
           "  --conf-dir=DIR     read the test files from DIR instead of ../conf/\n"
           "  --junit=FILE       write a JUnit XML report of the run to FILE\n"
           "  --trace            write every PKCS#11 call to standard error (PINs masked)\n"
           "  --version          print the version and exit\n"
           "  -h, --help         show this text and exit\n"
           "Other arguments are ignored with a warning on standard error.\n"
           "\n"
           "Exit status:\n"
           "  0    every pass ran, or no pass was asked for\n"
           "  1    the PKCS#11 module cannot be loaded\n"
           "  2    a test failed or an option is unusable; the line before names the failure\n"
           "  3    no slot holds a token\n"
           "  4    a PIN about to be used is locked or at its final try; nothing was tried\n"
           "  255  the token refused the default PIN\n"
           "\n"
           "The PIN change tests set each PIN to the temporary PIN 26074913 and back. When a test\n"
           "fails meanwhile, the run tries once to set it back and says whether it could. A run\n"
           "stopped then (killed, power lost) leaves the temporary PIN; restore the default with\n"
           "  pkcs11-tool --module MODULE --slot ID --login --login-type so --so-pin 26074913 \\\n"
           "    --change-pin --new-pin 52816037\n"
           "for the SO PIN, and for the user PIN with\n"
           "  pkcs11-tool --module MODULE --slot ID --login --pin 26074913 \\\n"
           "    --change-pin --new-pin 52816037\n"
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
    return text;
}
