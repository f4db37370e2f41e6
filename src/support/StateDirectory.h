#pragma once
// Where the utility keeps its own state between runs: $XDG_STATE_HOME/tokentest, by default
// ~/.local/state/tokentest, private to the user. Per-token files there are named after the
// token's serial number.
#include <string>

class CStateDirectory {
public:
    // The directory's path; empty when neither XDG_STATE_HOME nor HOME gives one.
    static std::string Path();
    // Makes the directory (and its parents) if needed. False with the reason in `error`.
    static bool Create(std::string& error);
    // The file of one token in `directory`: "token-<serial>" and the suffix, the serial
    // number with every byte but letters, digits, '-', '_' and '.' written as %XX.
    static std::string TokenFile(const std::string& directory, const std::string& serial, const char* suffix);

    // %XX encoding of the bytes outside letters, digits, '-', '_' and '.'; and back. Decode
    // returns false on a malformed text.
    static std::string Encode(const std::string& text);
    static bool Decode(const std::string& text, std::string& decoded);
};
