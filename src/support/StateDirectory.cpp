#include "support/StateDirectory.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool IsPlain(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The XDG rule: a relative value is ignored.
std::string AbsoluteFromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

}  // namespace

std::string CStateDirectory::Path()
{
    const std::string state = AbsoluteFromEnvironment("XDG_STATE_HOME");
    if (!state.empty()) {
        return state + "/tokentest";
    }
    const std::string home = AbsoluteFromEnvironment("HOME");
    return home.empty() ? std::string() : home + "/.local/state/tokentest";
}

bool CStateDirectory::Create(std::string& error)
{
    const std::string path = Path();
    if (path.empty()) {
        error = "neither XDG_STATE_HOME nor HOME names a directory";
        return false;
    }
    // Each component in turn; the last one is the utility's own and private.
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        const bool last = slash == std::string::npos;
        if (mkdir(part.c_str(), last ? 0700 : 0755) != 0 && errno != EEXIST) {
            error = "cannot create \"" + part + "\": " + std::strerror(errno);
            return false;
        }
        if (last) {
            break;
        }
    }
    struct stat status {};
    if (stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        error = "\"" + path + "\" is not a directory";
        return false;
    }
    return true;
}

std::string CStateDirectory::TokenFile(const std::string& directory, const std::string& serial, const char* suffix)
{
    return directory + "/token-" + Encode(serial) + suffix;
}

std::string CStateDirectory::Encode(const std::string& text)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        if (IsPlain(c)) {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += digits[c >> 4];
            encoded += digits[c & 0x0F];
        }
    }
    return encoded;
}

bool CStateDirectory::Decode(const std::string& text, std::string& decoded)
{
    decoded.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return false;
        }
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return false;
        }
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}
