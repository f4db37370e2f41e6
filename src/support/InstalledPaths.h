#pragma once
// Where an installed tokentest finds the software token module and the test files: the
// install layout the build was configured with, taken from the directory of the running
// executable, so that a package installed under any prefix finds its own files.
#include <string>

class CInstalledPaths {
public:
    // The installed software token module; empty when the executable's path is unknown.
    static std::string ModulePath();
    // The installed test file directory, ending with '/'; empty as above.
    static std::string ConfDir();

private:
    // `relative` (from the binary directory) placed under the running executable's directory.
    static std::string FromExecutable(const std::string& relative);
};
