#include "ScopedWorkDir.h"

#include <filesystem>
#include <system_error>

ScopedWorkDir::ScopedWorkDir(const std::string& prefix)
    : m_previous(std::filesystem::current_path().string()), m_dir(prefix)
{
    std::filesystem::current_path(m_dir.Path());
}

ScopedWorkDir::~ScopedWorkDir()
{
    std::error_code ignored;
    std::filesystem::current_path(m_previous, ignored);
}
