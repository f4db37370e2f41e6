#pragma once
// An open file descriptor of a regular file, closed when it goes. Opening never blocks and
// never lands on anything but a regular file: a FIFO or device among the test files is
// refused, and the CSR files are never written through a symbolic link or a second name.
#include <sys/types.h>

#include <cstddef>

class CRegularFile {
public:
    // An existing regular file, links followed unless told otherwise; not open when the
    // path is anything else.
    static CRegularFile OpenForReading(const char* path, bool followLinks = true);
    // A regular file of that name in the working directory, created or emptied; not open
    // when the name is a symbolic link, a FIFO, a device, a directory or a file with more
    // than one name.
    static CRegularFile CreateForWriting(const char* name);

    CRegularFile(CRegularFile&& other) noexcept;
    CRegularFile& operator=(CRegularFile&& other) = delete;
    CRegularFile(const CRegularFile&) = delete;
    CRegularFile& operator=(const CRegularFile&) = delete;
    ~CRegularFile();

    bool IsOpen() const { return m_fd >= 0; }
    // The size in bytes now, -1 when it cannot be told.
    off_t Size() const;
    // What read(2) gives, retried when interrupted: bytes read, 0 at the end, -1 on error.
    ssize_t Read(void* buffer, std::size_t size);
    // Everything or false.
    bool WriteAll(const void* data, std::size_t size);
    // False when closing reports an error (data that never reached the file).
    bool Close();

private:
    explicit CRegularFile(int fd) : m_fd(fd) {}
    // Keeps the descriptor only when it is a regular file with `maxLinks` names at most
    // (0: any number), then switches it back to blocking.
    static CRegularFile Checked(int fd, nlink_t maxLinks);

    int m_fd;
};
