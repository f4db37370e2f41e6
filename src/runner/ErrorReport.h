#pragma once
// The one-line reports that main writes for an exception that ended the run, and the
// names of PKCS#11 return values.
#include <exception>
#include <ostream>
#include <string>

#include <p11-kit/pkcs11.h>

#include "support/PKCSException.h"

class CErrorReport {
public:
    // The standard's name of a return value, or null when it has none.
    static const char* ReturnValueName(CK_RV rv);
    // The name, or "CK exception with code " and the value as a signed 32-bit number.
    static std::string ReturnValueText(CK_RV rv);

    static std::string PkcsLine(const CPKCSException& e);
    static std::string StdLine(const std::exception& e);
    static std::string UnknownLine();

    // Writes the line and a line end to the stream and flushes it.
    static void Write(std::ostream& out, const std::string& line);
};
