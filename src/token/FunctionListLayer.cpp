#include "token/FunctionListLayer.h"

#include <iostream>
#include <optional>

#include "standard/StandardCalls.h"
#include "support/ModuleAnswers.h"
#include "support/CustomException.h"
#include "token/AnswerRecorder.h"
#include "token/CallTrace.h"
#include "token/VendorDetection.h"

namespace {

CFunctionListLayer* g_current = nullptr;

// A vendor entry done by the standard-call function 'Call', whose PKCS#11 calls go through
// the top list of the current layer (and so through the trace, when there is one).
template <auto Call>
struct StandardEntry;

template <typename... Args, CK_RV (*Call)(CK_FUNCTION_LIST*, Args...)>
struct StandardEntry<Call> {
    static CK_RV Entry(Args... args)
    {
        CFunctionListLayer* layer = CFunctionListLayer::Current();
        return layer == nullptr ? CKR_CRYPTOKI_NOT_INITIALIZED : Call(layer->Top(), args...);
    }
};

void UseStandardCalls(CK_KTL_FUNCTION_LIST& list)
{
    list.C_KTL_LoadCert = StandardEntry<&CStandardCalls::LoadCert>::Entry;
    list.C_KTL_LoadX509Cert = StandardEntry<&CStandardCalls::LoadX509Cert>::Entry;
    list.C_KTL_CreateCSR = StandardEntry<&CStandardCalls::CreateCSR>::Entry;
    list.C_KTL_SignWithCert = StandardEntry<&CStandardCalls::SignWithCert>::Entry;
    list.C_KTL_VerifySignature = StandardEntry<&CStandardCalls::VerifySignature>::Entry;
}

}  // namespace

CFunctionListLayer::CFunctionListLayer(CK_FUNCTION_LIST* moduleList, bool forceStandardCalls,
                                       bool trace, CK_C_GetInterface getInterface)
    : m_below(), m_top(), m_moduleHasVendorEntries(false), m_standardCalls(true)
{
    if (g_current != nullptr) {
        throw CustomException("CFunctionListLayer: a module is already loaded");
    }
    const std::optional<CK_KTL_FUNCTION_LIST> extended = CVendorDetection::Detect(moduleList, getInterface);
    m_moduleHasVendorEntries = extended.has_value();
    m_standardCalls = forceStandardCalls || !m_moduleHasVendorEntries;
    if (extended) {
        m_below = *extended;
    } else {
        m_below.standard = *moduleList;
    }
    // The module's own answers are recorded here, below the standard-call entries, so that
    // a report names the module's call and never a vendor entry the module does not have.
    CModuleAnswers::Clear();
    CAnswerRecorder::Wrap(m_below);
    if (m_standardCalls) {
        UseStandardCalls(m_below);
    }
    m_top = m_below;
    if (trace) {
        CCallTrace::Wrap(m_top, std::cerr);
    }
    g_current = this;
}

CFunctionListLayer::~CFunctionListLayer()
{
    if (g_current == this) {
        g_current = nullptr;
    }
}

CK_FUNCTION_LIST* CFunctionListLayer::Top() { return &m_top.standard; }

const CK_KTL_FUNCTION_LIST& CFunctionListLayer::Below() const { return m_below; }

bool CFunctionListLayer::UsesStandardCalls() const { return m_standardCalls; }

bool CFunctionListLayer::ModuleHasVendorEntries() const { return m_moduleHasVendorEntries; }

CFunctionListLayer* CFunctionListLayer::Current() { return g_current; }
