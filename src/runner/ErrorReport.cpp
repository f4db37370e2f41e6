#include "runner/ErrorReport.h"

#include <cstdint>

#include "support/CustomException.h"
#include "support/PkcsNames.h"

namespace {

// How the run is given another PIN than the default one.
std::string PinHint(CK_USER_TYPE user)
{
    if (user == CKU_SO) {
        return "ERROR: the token refused the SO PIN; give the right one with --so-pin=PIN or the environment "
               "variable TOKENTEST_SO_PIN";
    }
    return "ERROR: the token refused the user PIN; give the right one with --pin=PIN or the environment variable "
           "TOKENTEST_PIN";
}

}  // namespace

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

std::vector<std::string> CErrorReport::FailingCallLines(const std::optional<CModuleAnswers::Answer>& answer)
{
    if (!answer) {
        return {};
    }
    std::vector<std::string> lines;
    if (answer->missingEntry) {
        lines.push_back("ERROR: the module's function list has no " + answer->call);
    } else {
        lines.push_back("ERROR: the module answered " + answer->call + " with " +
                        CPkcsNames::OrHex(CPkcsNames::ReturnValue(answer->rv), answer->rv));
    }
    if (answer->refusedPin == CKU_SO || answer->refusedPin == CKU_USER) {
        lines.push_back(PinHint(*answer->refusedPin));
    }
    return lines;
}

std::vector<std::string> CErrorReport::FailingCallLines(const CPKCSException& e) { return FailingCallLines(e.m_answer); }

std::vector<std::string> CErrorReport::FailingCallLines(const std::exception& e)
{
    const auto* custom = dynamic_cast<const CustomException*>(&e);
    return custom != nullptr ? FailingCallLines(custom->ModuleAnswer()) : std::vector<std::string>();
}

void CErrorReport::Write(std::ostream& out, const std::string& line) { out << line << "\n" << std::flush; }

void CErrorReport::Write(std::ostream& out, const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) {
        Write(out, line);
    }
}
