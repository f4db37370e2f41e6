#include "tests/PinJournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <utility>

#include "support/CustomException.h"
#include "support/FileDescriptor.h"
#include "support/StateDirectory.h"

namespace {

const char kHeader[] = "tokentest PIN journal 1";
const size_t kMaximumSize = 4096;

std::string Text(const CPinJournal::Entry& entry)
{
    return std::string(kHeader) + "\n" + "serial=" + CStateDirectory::Encode(entry.serial) + "\n" +
           "label=" + CStateDirectory::Encode(entry.label) + "\n" +
           "pin=" + (entry.userType == CKU_SO ? "so" : "user") + "\n" +
           "temporary=" + CStateDirectory::Encode(entry.temporaryPin) + "\n";
}

// The whole file, at most kMaximumSize bytes; empty when it is missing or not a regular file.
std::string ReadSmallFile(const std::string& path)
{
    CFileDescriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat status {};
    if (fd.Get() < 0 || fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<size_t>(status.st_size) > kMaximumSize) {
        return std::string();
    }
    std::string text(kMaximumSize, '\0');
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t got = read(fd.Get(), &text[done], text.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<size_t>(got);
    }
    text.resize(done);
    return text;
}

std::optional<CPinJournal::Entry> Parse(const std::string& text)
{
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kHeader) {
        return std::nullopt;
    }
    CPinJournal::Entry entry;
    bool hasPin = false;
    while (std::getline(lines, line)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            return std::nullopt;
        }
        const std::string key = line.substr(0, equals);
        std::string value;
        if (!CStateDirectory::Decode(line.substr(equals + 1), value)) {
            return std::nullopt;
        }
        if (key == "serial") {
            entry.serial = value;
        } else if (key == "label") {
            entry.label = value;
        } else if (key == "pin" && (value == "so" || value == "user")) {
            entry.userType = value == "so" ? CKU_SO : CKU_USER;
            hasPin = true;
        } else if (key == "temporary") {
            entry.temporaryPin = value;
        }
    }
    if (!hasPin || entry.temporaryPin.empty()) {
        return std::nullopt;
    }
    return entry;
}

}  // namespace

CPinJournal::CPinJournal(std::string directory) : m_directory(std::move(directory)) {}

std::string CPinJournal::FileOf(const std::string& serial) const
{
    return CStateDirectory::TokenFile(m_directory, serial, ".pin-journal");
}

void CPinJournal::SyncDirectory() const
{
    CFileDescriptor directory(open(m_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() >= 0) {
        fsync(directory.Get());
    }
}

void CPinJournal::Record(const Entry& entry) const
{
    const std::string path = FileOf(entry.serial);
    std::string temporary = path + ".XXXXXX";
    CFileDescriptor fd(mkstemp(temporary.data()));
    if (fd.Get() < 0) {
        throw CustomException("cannot record the PIN change in \"" + path + "\": " + std::strerror(errno));
    }
    const bool written = fchmod(fd.Get(), 0600) == 0 && fd.WriteAll(Text(entry)) && fsync(fd.Get()) == 0 &&
                         fd.Close() && std::rename(temporary.c_str(), path.c_str()) == 0;
    if (!written) {
        const std::string reason = std::strerror(errno);
        unlink(temporary.c_str());
        throw CustomException("cannot record the PIN change in \"" + path + "\": " + reason);
    }
    SyncDirectory();
}

void CPinJournal::Clear(const std::string& serial) const
{
    if (unlink(FileOf(serial).c_str()) == 0) {
        SyncDirectory();
    }
}

std::optional<CPinJournal::Entry> CPinJournal::Find(const std::string& serial, const std::string& label) const
{
    const std::optional<Entry> entry = Parse(ReadSmallFile(FileOf(serial)));
    if (!entry || entry->serial != serial || entry->label != label) {
        return std::nullopt;
    }
    return entry;
}
