#pragma once
// A PKCS#11 call that did not return CKR_OK: the module's result and the failing operation's name.
// Deliberately not a std::exception, so generic handlers do not swallow it.
#include <optional>
#include <string>

#include <p11-kit/pkcs11.h>

#include "support/ModuleAnswers.h"

class CPKCSException {
public:
    CPKCSException(CK_RV rv, const char* function);
    virtual ~CPKCSException();

    CK_RV m_rv;
    std::string m_function;
    // The module's newest failing answer with this code when the exception was made: the
    // call whose answer it reports (nothing when the code did not come from the module).
    std::optional<CModuleAnswers::Answer> m_answer;
};
