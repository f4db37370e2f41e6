#include "runner/ReportFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/FileDescriptor.h"

namespace {

std::string Reason(const std::string& what, const std::string& path)
{
    return what + " \"" + path + "\": " + std::strerror(errno);
}

bool IsWrittenInPlace(mode_t mode) { return S_ISCHR(mode) || S_ISFIFO(mode); }

}  // namespace

bool CReportFile::Write(const std::string& path, const std::string& content, std::string& error)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode)) {
        return Replace(path, content, error);
    }
    if (IsWrittenInPlace(status.st_mode)) {
        return WriteInPlace(path, content, error);
    }
    error = "\"" + path + "\" is not a regular file, a character device or a FIFO";
    return false;
}

bool CReportFile::Replace(const std::string& path, const std::string& content, std::string& error)
{
    std::string temporary = path + ".XXXXXX";
    CFileDescriptor file(mkstemp(temporary.data()));
    if (file.Get() < 0) {
        error = Reason("cannot create a temporary file for", path);
        return false;
    }
    // mkstemp makes the file private; the report gets the mode a new file would get.
    const mode_t mask = umask(0);
    umask(mask);
    const bool written = fchmod(file.Get(), 0666 & ~mask) == 0 && file.WriteAll(content) &&
                         fsync(file.Get()) == 0 && file.Close() && std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!written) {
        error = Reason("cannot write", path);
        unlink(temporary.c_str());
    }
    return written;
}

bool CReportFile::WriteInPlace(const std::string& path, const std::string& content, std::string& error)
{
    // Without O_NONBLOCK a FIFO nobody reads would hold the run forever at its end.
    CFileDescriptor file(open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0) {
        error = errno == ENXIO ? "\"" + path + "\" is a FIFO that nobody reads"
                               : Reason("cannot open", path);
        return false;
    }
    // The path may have changed kind since it was looked at.
    struct stat status;
    if (fstat(file.Get(), &status) != 0 || !IsWrittenInPlace(status.st_mode)) {
        error = "\"" + path + "\" changed while the report was being opened";
        return false;
    }
    // A reader is there: from now on the report waits for it rather than lose a part.
    const int flags = fcntl(file.Get(), F_GETFL);
    if (flags < 0 || fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0 || !file.WriteAll(content) ||
        !file.Close()) {
        error = Reason("cannot write", path);
        return false;
    }
    return true;
}
