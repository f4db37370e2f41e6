#include "token/TokenOperator.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <limits>

#include "support/CustomException.h"
#include "support/PKCSException.h"
#include "support/TerminalEchoGuard.h"
#include "token/FunctionListLayer.h"

namespace {

const char kLibraryName[] = "libnimb_pkcs11_main.so";

void ThrowIfFailed(CK_RV rv, const char* operation)
{
    if (rv != CKR_OK) {
        throw CPKCSException(rv, operation);
    }
}

}  // namespace

CTokenOperator::CTokenOperator() : m_hModule(nullptr), m_pFunctionList(nullptr), m_slotId(0), m_hSession(0) {}

CTokenOperator::~CTokenOperator() = default;

std::string CTokenOperator::GetLibraryPath() { return m_modulePath.empty() ? kLibraryName : m_modulePath; }

void CTokenOperator::LoadPkcsDll()
{
    m_hModule = dlopen(GetLibraryPath().c_str(), RTLD_LAZY);
    if (m_hModule == nullptr) {
        // The module is the whole point of the run: without it there is nothing to test.
        if (const char* text = dlerror()) {
            std::cerr << text << std::flush;
        }
        std::exit(1);
    }
}

CK_FUNCTION_LIST* CTokenOperator::InitPkcsFunctionList()
{
    const std::string name = "C_GetFunctionList";
    dlerror();
    void* symbol = dlsym(m_hModule, name.c_str());
    if (dlerror() != nullptr) {
        throw CustomException("Function \"" + name + "\" was not found in PKCS library.");
    }
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(symbol);
    CK_FUNCTION_LIST* moduleList = nullptr;
    ThrowIfFailed(getFunctionList(&moduleList), "CTokenOperator::InitPkcsFunctionList");
    if (moduleList == nullptr) {
        // Every later call goes through the list: a module that gives none cannot be used.
        throw CustomException("Function \"" + name + "\" returned no function list.");
    }
    return moduleList;
}

void CTokenOperator::Initialize(const CModuleOptions& options)
{
    m_modulePath = options.path;
    LoadPkcsDll();
    try {
        m_layer = std::make_unique<CFunctionListLayer>(InitPkcsFunctionList(), options.standardCalls, options.trace);
        m_pFunctionList = m_layer->Top();
        ThrowIfFailed(m_pFunctionList->C_Initialize(nullptr), "CTokenOperator::CTokenOperator");
    } catch (...) {
        m_layer.reset();
        dlclose(m_hModule);
        m_hModule = nullptr;
        m_pFunctionList = nullptr;
        throw;
    }
}

void CTokenOperator::Initialize(void* hModule, CK_FUNCTION_LIST* pFunctionList)
{
    m_hModule = hModule;
    m_pFunctionList = pFunctionList;
}

void CTokenOperator::Finalize()
{
    if (m_pFunctionList != nullptr) {
        m_pFunctionList->C_CloseAllSessions(m_slotId);
        m_pFunctionList->C_Finalize(nullptr);
    }
    // The layer goes before the module: nothing may call through it once the code is gone.
    m_layer.reset();
    if (m_hModule != nullptr) {
        dlclose(m_hModule);
    }
    m_hModule = nullptr;
    m_pFunctionList = nullptr;
}

bool CTokenOperator::UsesStandardCalls() const { return m_layer != nullptr && m_layer->UsesStandardCalls(); }

bool CTokenOperator::ModuleHasVendorEntries() const { return m_layer != nullptr && m_layer->ModuleHasVendorEntries(); }

const CK_KTL_FUNCTION_LIST* CTokenOperator::VendorFunctions() const
{
    return reinterpret_cast<const CK_KTL_FUNCTION_LIST*>(m_pFunctionList);
}

std::vector<CK_SLOT_ID> CTokenOperator::GetSlotsWithToken()
{
    CK_ULONG count = 0;
    ThrowIfFailed(m_pFunctionList->C_GetSlotList(CK_TRUE, nullptr, &count), "CTokenOperator::GetSlotsWithToken");
    std::vector<CK_SLOT_ID> slots(count, 0);
    if (count != 0) {
        ThrowIfFailed(m_pFunctionList->C_GetSlotList(CK_TRUE, slots.data(), &count),
                      "CTokenOperator::GetSlotsWithToken");
        slots.resize(std::min<CK_ULONG>(count, slots.size()));
    }
    return slots;
}

std::string CTokenOperator::GetSlotName(unsigned long slotId)
{
    CK_SLOT_INFO info;
    std::memset(&info, 0, sizeof(info));
    ThrowIfFailed(m_pFunctionList->C_GetSlotInfo(slotId, &info), "CTokenOperator::GetSlotName");
    const char* description = reinterpret_cast<const char*>(info.slotDescription);
    std::string name(description, strnlen(description, sizeof(info.slotDescription)));
    name.erase(name.find_last_not_of(' ') + 1);
    return name;
}

CK_SLOT_ID CTokenOperator::AskForSlot(const std::vector<unsigned long>& slots)
{
    if (slots.empty()) {
        throw CustomException("CTokenOperator::AskForSlot : no tokens inserted (slots.size() == 0)");
    }
    std::cout << "Slots with tokens:\r\n";
    for (size_t i = 0; i < slots.size(); ++i) {
        std::cout << "[" << i << "] : " << GetSlotName(slots[i]) << "\n" << std::flush;
    }
    unsigned long number = 0;
    do {
        std::cout << "\r\nPlease enter slot number: " << std::flush;
        number = 0;
        std::cin >> number;
        if (std::cin.fail() && !std::cin.eof()) {
            // Drop the rest of a line that was not a number so the next prompt reads afresh.
            std::cin.clear();
            std::cin.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        }
        // At end of input the read leaves 0, so the first slot is taken and nothing loops.
    } while (number >= slots.size());
    return slots[number];
}

bool CTokenOperator::SelectSlot()
{
    std::vector<CK_SLOT_ID> slots = GetSlotsWithToken();
    if (slots.empty()) {
        return false;
    }
    m_slotId = slots.size() == 1 ? slots.front() : AskForSlot(slots);
    std::cout << "Selected slot: " << GetSlotName(m_slotId) << "\r\n" << std::flush;
    return true;
}

void CTokenOperator::SetCurrentSlot(unsigned long slotId) { m_slotId = slotId; }

void CTokenOperator::SetCurrentSession(unsigned long hSession) { m_hSession = hSession; }

void CTokenOperator::AskForPin(std::vector<unsigned char>& pin)
{
    std::string word;
    while (word.empty()) {
        std::cout << "Enter PIN: " << std::flush;
        {
            TerminalEchoGuard quiet;
            std::cin >> word;
            if (quiet.Active()) {
                std::cout << "\n" << std::flush;
            }
        }
        if (word.empty() && !std::cin.good()) {
            throw CustomException("end of input while reading the PIN");
        }
    }
    pin.assign(word.begin(), word.end());
    std::fill(word.begin(), word.end(), '\0');
}

void CTokenOperator::CheckToken()
{
    CK_TOKEN_INFO info;
    std::memset(&info, 0, sizeof(info));
    ThrowIfFailed(m_pFunctionList->C_GetTokenInfo(m_slotId, &info), "CTokenOperator::CheckToken");
}

bool CTokenOperator::Authenticate(const std::vector<unsigned char>& pin, unsigned long userType, unsigned long flags)
{
    CheckToken();
    ThrowIfFailed(m_pFunctionList->C_OpenSession(m_slotId, flags | CKF_SERIAL_SESSION, nullptr, nullptr, &m_hSession),
                  "CTokenOperator::Authenticate");
    std::vector<unsigned char> pinBytes(pin);
    CK_RV rv = m_pFunctionList->C_Login(m_hSession, userType, pinBytes.empty() ? nullptr : pinBytes.data(),
                                        pinBytes.size());
    std::fill(pinBytes.begin(), pinBytes.end(), 0);
    if (rv == CKR_OK) {
        return true;
    }
    if (rv == CKR_PIN_INCORRECT) {
        std::cout << "Incorrect PIN" << "\n" << std::flush;
        return false;
    }
    throw CPKCSException(rv, "CTokenOperator::Authenticate");
}

void CTokenOperator::Authenticate(unsigned long flags)
{
    CheckToken();
    std::vector<unsigned char> pin;
    AskForPin(pin);
    while (!Authenticate(pin, CKU_USER, flags)) {
        std::cout << "Incorrect PIN. Please try again.\r\n" << std::flush;
        AskForPin(pin);
    }
    std::fill(pin.begin(), pin.end(), 0);
}

void CTokenOperator::Logout() { ThrowIfFailed(m_pFunctionList->C_Logout(m_hSession), "CTokenOperator::Logout"); }

void CTokenOperator::CloseAllSessions()
{
    ThrowIfFailed(m_pFunctionList->C_CloseAllSessions(m_slotId), "CTokenOperator::CloseAllSessions");
}
