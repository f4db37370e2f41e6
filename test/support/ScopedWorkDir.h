#pragma once
// A fresh temporary directory that is the working directory while the object lives; the
// previous working directory comes back and the directory goes with its files afterwards.
#include <string>

#include "TempDir.h"

class ScopedWorkDir {
public:
    explicit ScopedWorkDir(const std::string& prefix = "tokentest-work-");
    ~ScopedWorkDir();
    ScopedWorkDir(const ScopedWorkDir&) = delete;
    ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;

    const std::string& Path() const { return m_dir.Path(); }

private:
    std::string m_previous;
    TempDir m_dir;
};
