#include "support/FileDescriptor.h"

#include <unistd.h>

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
