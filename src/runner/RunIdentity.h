#pragma once
// The properties that tell one run's report from another's: the module file and its
// library information, the chosen slot and its token as they were when it was chosen.
#include <string>

#include "runner/JunitReport.h"
#include "token/TokenOperator.h"

class CRunIdentity {
public:
    // module.path, library.description, library.manufacturer, library.version
    static void AddModule(CJunitReport& report, CTokenOperator& module);
    // slot.id and token.label, .manufacturer, .model, .serialNumber, .hardwareVersion,
    // .firmwareVersion of the current slot
    static void AddToken(CJunitReport& report, CTokenOperator& token);

private:
    // The file the loader took the module from (the default name resolved).
    static std::string ModuleFile(CTokenOperator& module);
    static std::string Version(const CK_VERSION& version);
    // The text a property gets when the module would not tell.
    static std::string Unavailable(const char* call, CK_RV rv);
};
