#pragma once
// A fresh directory under the system's temporary directory, removed with everything in it
// when the object goes.
#include <string>

class TempDir {
public:
    // The directory's name starts with the prefix and ends with six random characters.
    explicit TempDir(const std::string& prefix = "tokentest-");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // A file or directory inside.
    std::string Path(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};
