#include "runner/TokenLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

CTokenLock::CTokenLock(const std::string& path)
    : m_fd(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600))
{
    if (!m_fd.Valid()) {
        m_error = "cannot open \"" + path + "\": " + std::strerror(errno);
        return;
    }
    int rc = 0;
    while ((rc = flock(m_fd.Get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc == 0) {
        m_held = true;
    } else if (errno == EWOULDBLOCK) {
        m_busy = true;
    } else {
        m_error = "cannot lock \"" + path + "\": " + std::strerror(errno);
    }
}
