#pragma once
// A module file that loaded but gives no usable function list: it has no C_GetFunctionList,
// that entry fails, or it hands out no list. Carries the failure as it is reported (a text,
// or the PKCS#11 result under its operation name) and a line naming the module and what it
// lacks; the run ends with the status of a module that cannot be loaded.
#include <optional>
#include <string>

#include "support/CustomException.h"
#include "support/PKCSException.h"

class CModuleLoadException : public CustomException {
public:
    CModuleLoadException(std::string message, std::string moduleLine);
    CModuleLoadException(const CPKCSException& failure, std::string moduleLine);
    ~CModuleLoadException() override;

    // The module's result when C_GetFunctionList answered one other than CKR_OK.
    const std::optional<CPKCSException>& PkcsFailure() const { return m_pkcsFailure; }
    const std::string& ModuleLine() const { return m_moduleLine; }

private:
    std::optional<CPKCSException> m_pkcsFailure;
    std::string m_moduleLine;
};
