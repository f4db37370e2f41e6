#include "runner/ErrorReport.h"

#include <cstdint>

#include "support/PkcsNames.h"

const char* CErrorReport::ReturnValueName(CK_RV rv) { return CPkcsNames::ReturnValue(rv); }

std::string CErrorReport::ReturnValueText(CK_RV rv)
{
    if (const char* name = ReturnValueName(rv)) {
        return name;
    }
    return "CK exception with code " + std::to_string(static_cast<int32_t>(static_cast<uint32_t>(rv)));
}

std::string CErrorReport::PkcsLine(const CPKCSException& e)
{
    return "PKCS ERROR in " + e.m_function + " : " + ReturnValueText(e.m_rv);
}

std::string CErrorReport::StdLine(const std::exception& e)
{
    return std::string("ERROR: std::exception caught: ") + e.what();
}

std::string CErrorReport::UnknownLine() { return "unknown exception caught"; }

void CErrorReport::Write(std::ostream& out, const std::string& line) { out << line << "\n" << std::flush; }
