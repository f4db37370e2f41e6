#include "token/TokenOperator.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "support/CustomException.h"
#include "support/IgnoredAnswers.h"
#include "support/InterruptibleInput.h"
#include "support/ModuleLoadException.h"
#include "support/InstalledPaths.h"
#include "support/PKCSException.h"
#include "support/TerminalEchoGuard.h"
#include "token/FunctionListLayer.h"
#include "token/TokenState.h"

namespace {

const char kLibraryName[] = "libnimb_pkcs11_main.so";

void ThrowIfFailed(CK_RV rv, const char* operation)
{
    if (rv != CKR_OK) {
        throw CPKCSException(rv, operation);
    }
}

// Ids and positions as a list of decimal numbers: "1, 9".
std::string NumberList(const std::vector<CK_SLOT_ID>& numbers)
{
    std::string text;
    for (CK_SLOT_ID number : numbers) {
        text += (text.empty() ? "" : ", ") + std::to_string(number);
    }
    return text;
}

// The answer at the slot prompt: one whole decimal number below `count`, blanks around it
// allowed, nothing else on the line. A typo must never choose (and wipe) another token.
std::optional<std::size_t> ListPosition(const std::string& line, std::size_t count)
{
    const std::size_t first = line.find_first_not_of(" \t");
    const std::size_t last = line.find_last_not_of(" \t\r");
    if (first == std::string::npos || last == std::string::npos) {
        return std::nullopt;
    }
    const std::string digits = line.substr(first, last + 1 - first);
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 18) {
        return std::nullopt;
    }
    const unsigned long long position = std::stoull(digits);
    if (position >= count) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(position);
}

}  // namespace

CTokenOperator::CTokenOperator() : m_hModule(nullptr), m_pFunctionList(nullptr), m_slotId(0), m_hSession(0) {}

CTokenOperator::~CTokenOperator() = default;

std::string CTokenOperator::GetLibraryPath() { return m_modulePath.empty() ? kLibraryName : m_modulePath; }

void CTokenOperator::LoadPkcsDll()
{
    m_hModule = dlopen(GetLibraryPath().c_str(), RTLD_LAZY);
    if (m_hModule == nullptr) {
        const char* text = dlerror();
        const std::string loaderText = text != nullptr ? text : "";
        // The default name not on the loader's path: the module installed beside this
        // utility, when there is one. Its failure is not reported: the default name's is.
        if (m_modulePath.empty()) {
            OpenInstalledModule();
        }
        if (m_hModule == nullptr) {
            // The module is the whole point of the run: without it there is nothing to test.
            std::cerr << loaderText << "\n" << std::flush;
            std::exit(1);
        }
    }
}

void CTokenOperator::OpenInstalledModule()
{
    const std::string installed = CInstalledPaths::ModulePath();
    if (installed.empty()) {
        return;
    }
    m_hModule = dlopen(installed.c_str(), RTLD_LAZY);
    if (m_hModule != nullptr) {
        m_modulePath = installed;
    }
}

CK_FUNCTION_LIST* CTokenOperator::InitPkcsFunctionList()
{
    const std::string name = "C_GetFunctionList";
    const std::string notAModule = GetLibraryPath() + " is not a usable PKCS#11 module: ";
    dlerror();
    void* symbol = dlsym(m_hModule, name.c_str());
    if (dlerror() != nullptr) {
        throw CModuleLoadException("Function \"" + name + "\" was not found in PKCS library.",
                                   notAModule + "it has no " + name);
    }
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(symbol);
    CK_FUNCTION_LIST* moduleList = nullptr;
    const CK_RV rv = getFunctionList(&moduleList);
    if (rv != CKR_OK) {
        throw CModuleLoadException(CPKCSException(rv, "CTokenOperator::InitPkcsFunctionList"),
                                   notAModule + "its " + name + " failed");
    }
    if (moduleList == nullptr) {
        // Every later call goes through the list: a module that gives none cannot be used.
        throw CModuleLoadException("Function \"" + name + "\" returned no function list.",
                                   notAModule + "its " + name + " gave no function list");
    }
    return moduleList;
}

void CTokenOperator::Initialize(const CModuleOptions& options)
{
    m_modulePath = options.path;
    LoadPkcsDll();
    try {
        CK_FUNCTION_LIST* moduleList = InitPkcsFunctionList();
        m_layer = std::make_unique<CFunctionListLayer>(moduleList, options.standardCalls, options.trace,
                                                       PublishedGetInterface());
        m_pFunctionList = m_layer->Top();
        ThrowIfFailed(InitializeModule(options.initArgs), "CTokenOperator::CTokenOperator");
    } catch (...) {
        m_layer.reset();
        dlclose(m_hModule);
        m_hModule = nullptr;
        m_pFunctionList = nullptr;
        throw;
    }
}

CK_C_GetInterface CTokenOperator::PublishedGetInterface() const
{
    dlerror();
    void* symbol = dlsym(m_hModule, "C_GetInterface");
    return dlerror() != nullptr ? nullptr : reinterpret_cast<CK_C_GetInterface>(symbol);
}

CK_RV CTokenOperator::InitializeModule(const std::optional<std::string>& initArgs)
{
    if (!initArgs) {
        return m_pFunctionList->C_Initialize(nullptr);
    }
    // The form in which NSS softokn and others take their library parameters: the text in
    // pReserved, with the operating system's locking. The text lives as long as the module.
    m_initArgs.assign(initArgs->begin(), initArgs->end());
    m_initArgs.push_back('\0');
    CK_C_INITIALIZE_ARGS args;
    std::memset(&args, 0, sizeof(args));
    args.flags = CKF_OS_LOCKING_OK;
    args.pReserved = m_initArgs.data();
    return m_pFunctionList->C_Initialize(&args);
}

void CTokenOperator::Initialize(void* hModule, CK_FUNCTION_LIST* pFunctionList)
{
    m_hModule = hModule;
    m_pFunctionList = pFunctionList;
}

void CTokenOperator::Finalize()
{
    if (m_pFunctionList != nullptr) {
        // Only a slot the run chose has sessions of its own; another's belong to others.
        if (m_slotChosen) {
            const CIgnoredAnswers teardown;
            m_pFunctionList->C_CloseAllSessions(m_slotId);
        }
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

std::vector<CK_SLOT_ID> CTokenOperator::GetSlots(CK_BBOOL tokenPresent, const char* operation)
{
    CK_ULONG count = 0;
    ThrowIfFailed(m_pFunctionList->C_GetSlotList(tokenPresent, nullptr, &count), operation);
    std::vector<CK_SLOT_ID> slots(count, 0);
    if (count != 0) {
        ThrowIfFailed(m_pFunctionList->C_GetSlotList(tokenPresent, slots.data(), &count), operation);
        slots.resize(std::min<CK_ULONG>(count, slots.size()));
    }
    return slots;
}

std::vector<CK_SLOT_ID> CTokenOperator::GetSlotsWithToken()
{
    return GetSlots(CK_TRUE, "CTokenOperator::GetSlotsWithToken");
}

CK_SLOT_INFO CTokenOperator::ReadSlotInfo(CK_SLOT_ID slotId)
{
    CK_SLOT_INFO info;
    std::memset(&info, 0, sizeof(info));
    ThrowIfFailed(m_pFunctionList->C_GetSlotInfo(slotId, &info), "CTokenOperator::GetSlotName");
    return info;
}

CK_TOKEN_INFO CTokenOperator::ReadTokenInfo(CK_SLOT_ID slotId, const char* operation)
{
    CK_TOKEN_INFO info;
    std::memset(&info, 0, sizeof(info));
    ThrowIfFailed(m_pFunctionList->C_GetTokenInfo(slotId, &info), operation);
    return info;
}

std::string CTokenOperator::GetSlotName(unsigned long slotId)
{
    const CK_SLOT_INFO info = ReadSlotInfo(slotId);
    return CTokenState::Field(info.slotDescription, sizeof(info.slotDescription));
}

std::string CTokenOperator::SlotChoiceText(CK_SLOT_ID slotId)
{
    const std::string name = GetSlotName(slotId);
    const CK_TOKEN_INFO token = ReadTokenInfo(slotId, "CTokenOperator::AskForSlot");
    return name + " (label \"" + CTokenState::Field(token.label, sizeof(token.label)) + "\", serial number \"" +
           CTokenState::Field(token.serialNumber, sizeof(token.serialNumber)) + "\")";
}

CK_SLOT_ID CTokenOperator::AskForSlot(const std::vector<unsigned long>& slots)
{
    if (slots.empty()) {
        throw CustomException("CTokenOperator::AskForSlot : no tokens inserted (slots.size() == 0)");
    }
    // The whole list is read from the module before a line is written, so a failing query
    // never leaves half a line behind.
    std::string list = "Slots with tokens:\r\n";
    for (size_t i = 0; i < slots.size(); ++i) {
        list += "[" + std::to_string(i) + "] : " + SlotChoiceText(slots[i]) + "\n";
    }
    std::cout << list << std::flush;
    for (;;) {
        std::cout << "\r\nPlease enter slot number: " << std::flush;
        std::string line;
        bool answered = false;
        {
            const CInterruptibleInput input;
            answered = static_cast<bool>(std::getline(std::cin, line));
            input.ThrowIfInterrupted();
        }
        if (!answered) {
            // Without an answer no token may be chosen for the operator: the pass wipes it.
            // The report that follows gets a line of its own.
            std::cout << "\n" << std::flush;
            throw CustomException("end of input while reading the slot number");
        }
        if (const std::optional<std::size_t> position = ListPosition(line, slots.size())) {
            return slots[*position];
        }
    }
}

CK_SLOT_ID CTokenOperator::RequireFixedSlot(const std::vector<CK_SLOT_ID>& slotsWithToken) const
{
    if (std::find(slotsWithToken.begin(), slotsWithToken.end(), *m_fixedSlot) != slotsWithToken.end()) {
        return *m_fixedSlot;
    }
    const std::string ids = NumberList(slotsWithToken);
    throw CustomException("slot " + std::to_string(*m_fixedSlot) + " holds no token (" +
                          (ids.empty() ? std::string("no slot holds a token") : "slots with a token: " + ids) + ")");
}

CK_SLOT_ID CTokenOperator::RequireWantedToken(const std::vector<CK_SLOT_ID>& slotsWithToken)
{
    std::vector<CK_SLOT_ID> matches;
    for (CK_SLOT_ID id : slotsWithToken) {
        if (m_wantedToken->Matches(ReadTokenInfo(id, "CTokenOperator::SelectSlot"))) {
            matches.push_back(id);
        }
    }
    if (matches.size() == 1) {
        return matches.front();
    }
    const std::string wanted = m_wantedToken->Describe();
    if (matches.empty()) {
        throw CustomException("no token has " + wanted + " (" +
                              (slotsWithToken.empty() ? std::string("no slot holds a token")
                                                      : "slots with a token: " + NumberList(slotsWithToken)) +
                              ")");
    }
    throw CustomException(std::to_string(matches.size()) + " tokens have " + wanted + " (slots " +
                          NumberList(matches) + "): choose one of them with --slot");
}

bool CTokenOperator::SelectSlot()
{
    std::vector<CK_SLOT_ID> slots = GetSlotsWithToken();
    if (m_fixedSlot) {
        m_slotId = RequireFixedSlot(slots);
    } else if (m_wantedToken) {
        m_slotId = RequireWantedToken(slots);
    } else if (slots.empty()) {
        return false;
    } else {
        m_slotId = slots.size() == 1 ? slots.front() : AskForSlot(slots);
    }
    m_slotChosen = true;
    const std::string name = GetSlotName(m_slotId);
    std::cout << "Selected slot: " << name << "\r\n" << std::flush;
    return true;
}

void CTokenOperator::UseSlot(CK_SLOT_ID slotId) { m_fixedSlot = slotId; }

void CTokenOperator::UseToken(const CTokenIdentity& identity) { m_wantedToken = identity; }

void CTokenOperator::ListSlots()
{
    const char* const operation = "CTokenOperator::ListSlots";
    std::string listing;
    for (CK_SLOT_ID id : GetSlots(CK_FALSE, operation)) {
        const CK_SLOT_INFO slot = ReadSlotInfo(id);
        listing += "Slot " + std::to_string(id) + ": " +
                   CTokenState::Field(slot.slotDescription, sizeof(slot.slotDescription)) + "\r\n";
        listing += (slot.flags & CKF_TOKEN_PRESENT) != 0 ? CTokenState::Describe(ReadTokenInfo(id, operation))
                                                         : std::string("  no token\r\n");
    }
    std::cout << (listing.empty() ? std::string("No slots.\r\n") : listing) << std::flush;
}

void CTokenOperator::SetCurrentSlot(unsigned long slotId)
{
    m_slotId = slotId;
    m_slotChosen = true;
}

void CTokenOperator::SetCurrentSession(unsigned long hSession) { m_hSession = hSession; }

void CTokenOperator::AskForPin(std::vector<unsigned char>& pin)
{
    std::string word;
    while (word.empty()) {
        std::cout << "Enter PIN: " << std::flush;
        bool lineEnded = false;
        {
            const CInterruptibleInput input;
            TerminalEchoGuard quiet;
            std::cin >> word;
            lineEnded = quiet.Active();
            if (lineEnded) {
                std::cout << "\n" << std::flush;
            }
            input.ThrowIfInterrupted();
        }
        if (word.empty() && !std::cin.good()) {
            // The report that follows gets a line of its own.
            if (!lineEnded) {
                std::cout << "\n" << std::flush;
            }
            throw CustomException("end of input while reading the PIN");
        }
    }
    pin.assign(word.begin(), word.end());
    std::fill(word.begin(), word.end(), '\0');
}

void CTokenOperator::CheckToken() { ReadTokenInfo(m_slotId, "CTokenOperator::CheckToken"); }

void CTokenOperator::CheckTokenAndPin(unsigned long userType)
{
    CTokenState::GuardPin(ReadTokenInfo(m_slotId, "CTokenOperator::CheckToken").flags, userType);
}

void CTokenOperator::CheckTokenAndSessionPin()
{
    const CK_FLAGS flags = ReadTokenInfo(m_slotId, "CTokenOperator::CheckToken").flags;
    if (!CTokenState::AnyPinAtRisk(flags)) {
        return;
    }
    // C_SetPIN changes the SO PIN in an SO session and the user PIN otherwise. A module
    // that cannot tell the session's state gets both PINs checked.
    CK_SESSION_INFO session;
    std::memset(&session, 0, sizeof(session));
    if (m_pFunctionList->C_GetSessionInfo(m_hSession, &session) != CKR_OK) {
        CTokenState::GuardPin(flags, CKU_SO);
        CTokenState::GuardPin(flags, CKU_USER);
        return;
    }
    CTokenState::GuardPin(flags, session.state == CKS_RW_SO_FUNCTIONS ? CKU_SO : CKU_USER);
}

CK_RV CTokenOperator::OpenSessionAndLogIn(const std::vector<unsigned char>& pin, unsigned long userType,
                                          unsigned long flags)
{
    CheckTokenAndPin(userType);
    ThrowIfFailed(m_pFunctionList->C_OpenSession(m_slotId, flags | CKF_SERIAL_SESSION, nullptr, nullptr, &m_hSession),
                  "CTokenOperator::Authenticate");
    std::vector<unsigned char> pinBytes(pin);
    const CK_RV rv = m_pFunctionList->C_Login(m_hSession, userType, pinBytes.empty() ? nullptr : pinBytes.data(),
                                              pinBytes.size());
    std::fill(pinBytes.begin(), pinBytes.end(), 0);
    return rv;
}

bool CTokenOperator::Authenticate(const std::vector<unsigned char>& pin, unsigned long userType, unsigned long flags)
{
    const CK_RV rv = OpenSessionAndLogIn(pin, userType, flags);
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
    CheckTokenAndPin(CKU_USER);
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
