#pragma once
#include <string>

// Owns one file descriptor and closes it when it goes.
class CFileDescriptor {
public:
    explicit CFileDescriptor(int fd = -1) : m_fd(fd) {}
    ~CFileDescriptor();
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    // Writes all of `content`, again after an interrupted write; false on any other failure.
    bool WriteAll(const std::string& content) const;
    // Closes now; false when close reports an error (a write that did not reach the file).
    bool Close();

private:
    int m_fd;
};
