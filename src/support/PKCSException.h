#pragma once
// A PKCS#11 call that did not return CKR_OK: the module's result and the failing operation's name.
// Deliberately not a std::exception, so generic handlers do not swallow it.
#include <string>

#include <p11-kit/pkcs11.h>

class CPKCSException {
public:
    CPKCSException(CK_RV rv, const char* function);
    virtual ~CPKCSException();

    CK_RV m_rv;
    std::string m_function;
};
