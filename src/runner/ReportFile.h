#pragma once
// Writes a finished report to the path the user named, harming nothing there: a regular
// file (or none yet) is replaced whole through a temporary file beside it and a rename; a
// character device or a FIFO is written into as it is, opened without blocking; anything
// else (a directory, a socket) is refused. Nothing but a regular file is ever renamed over.
#include <string>

class CReportFile {
public:
    // False with the reason in `error`.
    static bool Write(const std::string& path, const std::string& content, std::string& error);

private:
    static bool Replace(const std::string& path, const std::string& content, std::string& error);
    static bool WriteInPlace(const std::string& path, const std::string& content, std::string& error);
};
