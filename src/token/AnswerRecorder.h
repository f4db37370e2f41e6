#pragma once
// Wraps the module's own entries so that each failing answer is recorded, with what
// identifies the call, for the report of the failure (CModuleAnswers). A null standard
// entry is never called: a stub in its place answers CKR_FUNCTION_NOT_SUPPORTED and is
// recorded as an entry the module's list lacks.
#include "tokentest/VendorFunctionList.h"

class CAnswerRecorder {
public:
    // Replaces every entry `list` holds now; null vendor entries stay null.
    static void Wrap(CK_KTL_FUNCTION_LIST& list);
};
