#pragma once
// Owns an open file descriptor and closes it when it goes.
class CFileDescriptor {
public:
    explicit CFileDescriptor(int fd) : m_fd(fd) {}
    ~CFileDescriptor();
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;

    int Get() const { return m_fd; }
    // Closes now; false when close reports a failure (written data may be lost).
    bool Close();

private:
    int m_fd;
};
