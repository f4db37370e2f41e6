#include "runner/RunSettings.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

const char kPassesPrefix[] = "--passes=";
const size_t kPassesPrefixLength = sizeof(kPassesPrefix) - 1;

bool Is(const char* argument, const char* option) { return std::strcmp(argument, option) == 0; }

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
        const char* argument = argv[i];
        if (Is(argument, "--skip-init-token")) {
            settings.skipInitToken = true;
        } else if (Is(argument, "--gost")) {
            settings.gostTests = true;
        } else if (std::strncmp(argument, kPassesPrefix, kPassesPrefixLength) == 0) {
            // The first value of 2 or more fixes the count; smaller ones leave the next in force.
            if (settings.passes < 2) {
                settings.passes = PassCount(argument + kPassesPrefixLength);
            }
        } else if (Is(argument, "--skip-2048")) {
            settings.skip2048 = true;
        } else if (Is(argument, "--skip-cert")) {
            settings.skipCert = true;
        } else if (Is(argument, "--help") || Is(argument, "-h")) {
            settings.showHelp = true;
        } else {
            settings.unknownArguments.push_back(argument);
        }
    }
    return settings;
}

void CRunSettings::WriteWarnings(std::ostream& out) const
{
    for (const std::string& argument : unknownArguments) {
        out << "ignoring unknown argument \"" << argument << "\"\n";
    }
    out.flush();
}

void CRunSettings::WriteUsage(std::ostream& out)
{
    out << "Usage: tokentest [options]\n"
           "Tests the token behind the PKCS#11 module libnimb_pkcs11_main.so, found on the\n"
           "loader's search path. Test files are read from ../conf/; the CSR files are written\n"
           "into the working directory. The token is initialised and every object on it is\n"
           "deleted.\n"
           "\n"
           "Options:\n"
           "  --skip-init-token  do not initialise the token; it must already accept the\n"
           "                     PIN 52816037 for the user and the security officer\n"
           "  --gost             run the GOST tests instead of the RSA 2048 tests\n"
           "  --passes=N         run the tests N times (default 1; 0 or less runs none)\n"
           "  --skip-2048        skip the RSA 2048 tests\n"
           "  --skip-cert        skip the certificate import tests\n"
           "  -h, --help         show this text and exit\n"
           "Other arguments are ignored with a warning on standard error.\n"
           "\n"
           "Exit status:\n"
           "  0    every pass ran, or no pass was asked for\n"
           "  1    the PKCS#11 module cannot be loaded\n"
           "  2    a test failed; the line before names the failure\n"
           "  3    no slot holds a token\n"
           "  255  the token refused the default PIN\n"
        << std::flush;
}
