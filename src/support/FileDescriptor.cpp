#include "support/FileDescriptor.h"

#include <unistd.h>

#include <cerrno>

CFileDescriptor::~CFileDescriptor()
{
    if (m_fd >= 0) {
        close(m_fd);
    }
}

bool CFileDescriptor::Close()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd >= 0 && close(fd) == 0;
}

bool CFileDescriptor::WriteAll(const std::string& content) const
{
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t written = write(m_fd, content.data() + done, content.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}
