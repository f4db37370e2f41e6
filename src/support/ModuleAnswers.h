#pragma once
// The failing answers of the module, newest last, as the function-list layer saw them: what
// a report needs to name the PKCS#11 call behind a failure. One module per process, so one
// record; a few answers are kept, so that a report finds its call behind later clean-up.
#include <optional>
#include <string>

#include <p11-kit/pkcs11.h>

class CModuleAnswers {
public:
    struct Answer {
        std::string call;                         // "C_Login (CKU_SO)", "C_SignInit (CKM_RSA_PKCS)"
        CK_RV rv = CKR_OK;
        bool missingEntry = false;                // the module's function list has no such entry
        std::optional<CK_USER_TYPE> refusedPin;   // C_InitToken or C_Login refused this user's PIN
    };

    static void Record(Answer answer);
    // The newest failing answer with this code, or nothing when none is kept.
    static std::optional<Answer> Latest(CK_RV rv);
    static void Clear();

    // Counted: while above zero, nothing is recorded (see CIgnoredAnswers).
    static void BeginIgnoring();
    static void EndIgnoring();
};
