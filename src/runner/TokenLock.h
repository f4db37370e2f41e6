#pragma once
// Holds an exclusive lock (flock) on one token's lock file for as long as it lives, so that
// two runs never test the same token at once. Never waits: a lock another run holds is
// reported as not held.
#include <string>

#include "support/FileDescriptor.h"

class CTokenLock {
public:
    explicit CTokenLock(const std::string& path);
    CTokenLock(const CTokenLock&) = delete;
    CTokenLock& operator=(const CTokenLock&) = delete;

    // False when another process holds the lock, or the file could not be opened (see Error).
    bool Held() const { return m_held; }
    bool Busy() const { return m_busy; }
    const std::string& Error() const { return m_error; }

private:
    CFileDescriptor m_fd;
    bool m_held = false;
    bool m_busy = false;
    std::string m_error;
};
