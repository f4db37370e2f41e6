#pragma once
// Writes every PKCS#11 call made through a function list as one line, PINs and key bytes masked.
#include <ostream>

#include "tokentest/VendorFunctionList.h"

class CCallTrace {
public:
    // Saves a copy of the entries `list` holds now and replaces every entry, the five vendor
    // entries included, by one that writes the call to `out` and forwards to the saved entry.
    static void Wrap(CK_KTL_FUNCTION_LIST& list, std::ostream& out);
};
