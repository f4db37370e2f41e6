#pragma once
// What the operators call as "the function list": a copy of the module's standard entries,
// each recording the module's failing answers (a null one replaced by a stub that answers
// CKR_FUNCTION_NOT_SUPPORTED), with the five vendor entries either taken from the module or
// done with standard calls (Below), and on top of it the list they really call (Top), which
// the call trace may wrap.
// One module per process, so there is one layer at a time; the standard-call entries find it
// through Current().
#include "tokentest/VendorFunctionList.h"

class CFunctionListLayer {
public:
    // getInterface: the module's C_GetInterface, when it exports one.
    CFunctionListLayer(CK_FUNCTION_LIST* moduleList, bool forceStandardCalls, bool trace,
                       CK_C_GetInterface getInterface = nullptr);
    ~CFunctionListLayer();
    CFunctionListLayer(const CFunctionListLayer&) = delete;
    CFunctionListLayer& operator=(const CFunctionListLayer&) = delete;

    // The list the operators hold: the standard part of an extended list.
    CK_FUNCTION_LIST* Top();
    // The module's standard entries and the chosen vendor entries.
    const CK_KTL_FUNCTION_LIST& Below() const;
    bool UsesStandardCalls() const;
    // True when the module has vendor entries of its own (whether used or not).
    bool ModuleHasVendorEntries() const;

    static CFunctionListLayer* Current();

private:
    CK_KTL_FUNCTION_LIST m_below;
    CK_KTL_FUNCTION_LIST m_top;
    bool m_moduleHasVendorEntries;
    bool m_standardCalls;
};
