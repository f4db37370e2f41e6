#include "support/InstalledPaths.h"

#include <filesystem>
#include <system_error>

std::string CInstalledPaths::FromExecutable(const std::string& relative)
{
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !executable.has_parent_path()) {
        return std::string();
    }
    return (executable.parent_path() / relative).lexically_normal().string();
}

std::string CInstalledPaths::ModulePath() { return FromExecutable(TOKENTEST_MODULE_FROM_BINDIR); }

std::string CInstalledPaths::ConfDir()
{
    const std::string directory = FromExecutable(TOKENTEST_CONF_FROM_BINDIR);
    return directory.empty() || directory.back() == '/' ? directory : directory + '/';
}
