#include "runner/RunIdentity.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>

#include "support/PkcsNames.h"
#include "token/TokenState.h"

std::string CRunIdentity::ModuleFile(CTokenOperator& module)
{
    link_map* map = nullptr;
    if (module.ModuleHandle() != nullptr && dlinfo(module.ModuleHandle(), RTLD_DI_LINKMAP, &map) == 0 &&
        map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0') {
        return map->l_name;
    }
    return module.GetLibraryPath();
}

std::string CRunIdentity::Version(const CK_VERSION& version)
{
    return std::to_string(version.major) + "." + std::to_string(version.minor);
}

std::string CRunIdentity::Unavailable(const char* call, CK_RV rv)
{
    const char* name = CPkcsNames::ReturnValue(rv);
    return std::string("unavailable (") + call + ": " + (name != nullptr ? name : std::to_string(rv)) + ")";
}

void CRunIdentity::AddModule(CJunitReport& report, CTokenOperator& module)
{
    report.SetProperty("module.path", ModuleFile(module));
    CK_INFO info;
    std::memset(&info, 0, sizeof(info));
    const CK_RV rv = module.FunctionList()->C_GetInfo(&info);
    if (rv != CKR_OK) {
        const std::string text = Unavailable("C_GetInfo", rv);
        for (const char* name : {"library.description", "library.manufacturer", "library.version"}) {
            report.SetProperty(name, text);
        }
        return;
    }
    report.SetProperty("library.description", CTokenState::Field(info.libraryDescription, sizeof(info.libraryDescription)));
    report.SetProperty("library.manufacturer", CTokenState::Field(info.manufacturerID, sizeof(info.manufacturerID)));
    report.SetProperty("library.version", Version(info.libraryVersion));
}

void CRunIdentity::AddToken(CJunitReport& report, CTokenOperator& token)
{
    report.SetProperty("slot.id", std::to_string(token.CurrentSlot()));
    CK_TOKEN_INFO info;
    std::memset(&info, 0, sizeof(info));
    const CK_RV rv = token.FunctionList()->C_GetTokenInfo(token.CurrentSlot(), &info);
    const char* const names[] = {"token.label",        "token.manufacturer",     "token.model",
                                 "token.serialNumber", "token.hardwareVersion", "token.firmwareVersion"};
    if (rv != CKR_OK) {
        for (const char* name : names) {
            report.SetProperty(name, Unavailable("C_GetTokenInfo", rv));
        }
        return;
    }
    const std::string values[] = {CTokenState::Field(info.label, sizeof(info.label)),
                                  CTokenState::Field(info.manufacturerID, sizeof(info.manufacturerID)),
                                  CTokenState::Field(info.model, sizeof(info.model)),
                                  CTokenState::Field(info.serialNumber, sizeof(info.serialNumber)),
                                  Version(info.hardwareVersion), Version(info.firmwareVersion)};
    for (size_t i = 0; i < sizeof(names) / sizeof(names[0]); ++i) {
        report.SetProperty(names[i], values[i]);
    }
}
