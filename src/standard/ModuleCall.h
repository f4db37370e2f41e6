#pragma once
// Calls into a module's function list for the standard-call entries: a missing entry answers
// CKR_FUNCTION_NOT_SUPPORTED, and Run turns any other answer than CKR_OK into a
// CPKCSException carrying the module's code unchanged.
#include "support/PKCSException.h"

#include <p11-kit/pkcs11.h>

class CModuleCall {
public:
    template <typename Entry, typename... Args>
    static CK_RV Result(Entry entry, Args... args) {
        return entry == nullptr ? CKR_FUNCTION_NOT_SUPPORTED : entry(args...);
    }

    template <typename Entry, typename... Args>
    static void Run(const char* name, Entry entry, Args... args) {
        const CK_RV rv = Result(entry, args...);
        if (rv != CKR_OK) throw CPKCSException(rv, name);
    }
};
