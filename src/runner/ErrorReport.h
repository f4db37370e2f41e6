#pragma once
// The one-line reports that main writes for an exception that ended the run, the lines
// that name the module's call behind it, and the names of PKCS#11 return values.
#include <exception>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <p11-kit/pkcs11.h>

#include "support/ModuleAnswers.h"
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

    // The lines that follow a failure's report line: the PKCS#11 call whose answer the report
    // is about and, when the token refused the SO or user PIN, how to give another. None when
    // no answer of the module is behind the failure.
    static std::vector<std::string> FailingCallLines(const std::optional<CModuleAnswers::Answer>& answer);
    static std::vector<std::string> FailingCallLines(const CPKCSException& e);
    static std::vector<std::string> FailingCallLines(const std::exception& e);

    // Writes the line and a line end to the stream and flushes it.
    static void Write(std::ostream& out, const std::string& line);
    static void Write(std::ostream& out, const std::vector<std::string>& lines);
};
