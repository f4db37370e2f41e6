#pragma once
// Finds the five vendor entries of a module. A module that exports C_GetInterface has them
// only as its named vendor interface. Otherwise a list of version 3 or more has none (the
// 3.0 entries follow it), and the words after a 2.x list are taken only when the whole
// extended list is readable memory of a loaded object and each word is code of the object
// that holds the module's own C_Initialize.
#include <optional>

#include "tokentest/VendorFunctionList.h"

class CVendorDetection {
public:
    // The standard list as given plus the module's five entries, or nothing when the module
    // has no complete vendor extension. getInterface is the module's C_GetInterface, if it
    // exports one.
    static std::optional<CK_KTL_FUNCTION_LIST> Detect(const CK_FUNCTION_LIST* list,
                                                      CK_C_GetInterface getInterface = nullptr);

private:
    static std::optional<CK_KTL_FUNCTION_LIST> FromInterface(const CK_FUNCTION_LIST* list,
                                                             CK_C_GetInterface getInterface);
    static std::optional<CK_KTL_FUNCTION_LIST> FromWordsAfter(const CK_FUNCTION_LIST* list);
};
