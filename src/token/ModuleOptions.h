#pragma once
// How the module is loaded and wrapped: its path for dlopen (empty: the default file name on
// the loader's search path), whether the vendor steps go through standard calls even where
// the module has entries, whether every call is traced, and the library parameters given to
// C_Initialize (none: C_Initialize gets a null argument).
#include <optional>
#include <string>

struct CModuleOptions {
    std::string path;
    bool standardCalls = false;
    bool trace = false;
    std::optional<std::string> initArgs = std::nullopt;
};
