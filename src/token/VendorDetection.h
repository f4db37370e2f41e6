#pragma once
// Finds the five vendor entries of a module: the words after its standard function list are
// taken only when the whole extended list is readable memory of a loaded object and each word
// is code of the object that holds the module's own C_Initialize.
#include <optional>

#include "token/VendorFunctionList.h"

class CVendorDetection {
public:
    // The standard list as given plus the module's five entries, or nothing when the module
    // has no (complete) vendor extension behind its list.
    static std::optional<CK_KTL_FUNCTION_LIST> Detect(const CK_FUNCTION_LIST* list);
};
