#include "signature/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

CRegularFile CRegularFile::Checked(int fd, nlink_t maxLinks)
{
    CRegularFile file(fd);
    struct stat status {};
    if (!file.IsOpen() || fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        (maxLinks != 0 && status.st_nlink > maxLinks)) {
        return CRegularFile(-1);
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return CRegularFile(-1);
    }
    return file;
}

CRegularFile CRegularFile::OpenForReading(const char* path, bool followLinks)
{
    // Non-blocking, so that a FIFO nobody writes to does not hold the run at open.
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW);
    return Checked(open(path, flags), 0);
}

CRegularFile CRegularFile::CreateForWriting(const char* name)
{
    CRegularFile file = Checked(open(name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666), 1);
    // Emptied only once it is known to be a regular file of its own.
    if (file.IsOpen() && ftruncate(file.m_fd, 0) != 0) {
        return CRegularFile(-1);
    }
    return file;
}

CRegularFile::CRegularFile(CRegularFile&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }

CRegularFile::~CRegularFile()
{
    if (m_fd >= 0) {
        close(m_fd);
    }
}

off_t CRegularFile::Size() const
{
    struct stat status {};
    return m_fd >= 0 && fstat(m_fd, &status) == 0 ? status.st_size : -1;
}

ssize_t CRegularFile::Read(void* buffer, std::size_t size)
{
    ssize_t got = 0;
    do {
        got = read(m_fd, buffer, size);
    } while (got < 0 && errno == EINTR);
    return got;
}

bool CRegularFile::WriteAll(const void* data, std::size_t size)
{
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(m_fd, next, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        next += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

bool CRegularFile::Close()
{
    const int fd = m_fd;
    m_fd = -1;
    return close(fd) == 0;
}
