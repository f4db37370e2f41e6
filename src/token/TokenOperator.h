#pragma once
// Base of every operator: the PKCS#11 module and its function list, slot discovery and
// selection, PIN entry, sessions, login and logout. One operator owns the loaded module;
// the others borrow its handle and function list.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <p11-kit/pkcs11.h>

#include "token/ModuleOptions.h"
#include "token/TokenIdentity.h"
#include "tokentest/VendorFunctionList.h"

class CFunctionListLayer;

class CTokenOperator {
public:
    CTokenOperator();
    virtual ~CTokenOperator();

    virtual bool SelectSlot();
    virtual bool Authenticate(const std::vector<unsigned char>& pin, unsigned long userType, unsigned long flags);
    virtual void Logout();
    virtual void CloseAllSessions();

    // Module lifetime. The operator that loads the module owns the function-list layer
    // between the module and every operator until Finalize.
    void Initialize(const CModuleOptions& options = CModuleOptions());
    void Initialize(void* hModule, CK_FUNCTION_LIST* pFunctionList);
    void Finalize();
    std::string GetLibraryPath();

    // Slots.
    std::vector<CK_SLOT_ID> GetSlotsWithToken();
    std::string GetSlotName(unsigned long slotId);
    CK_SLOT_ID AskForSlot(const std::vector<unsigned long>& slots);
    void SetCurrentSlot(unsigned long slotId);
    // SelectSlot takes this slot without a prompt; it must hold a token.
    void UseSlot(CK_SLOT_ID slotId);
    // SelectSlot takes the one slot whose token has this identity, without a prompt.
    void UseToken(const CTokenIdentity& identity);
    // Writes every slot with its description and, when it holds a token, the token's
    // identity, flags and PIN states. Changes nothing on any token.
    void ListSlots();

    // PIN entry and sessions.
    void AskForPin(std::vector<unsigned char>& pin);
    void CheckToken();
    // CheckToken, then a CPinGuardException instead of using a PIN that the token shows
    // locked or at its final try: the PIN of userType, or the one C_SetPIN changes on the
    // current session.
    void CheckTokenAndPin(unsigned long userType);
    void CheckTokenAndSessionPin();
    void Authenticate(unsigned long flags);
    void SetCurrentSession(unsigned long hSession);

    // What the operator currently works with.
    void* ModuleHandle() const { return m_hModule; }
    CK_FUNCTION_LIST* FunctionList() const { return m_pFunctionList; }
    CK_SLOT_ID CurrentSlot() const { return m_slotId; }
    CK_SESSION_HANDLE CurrentSession() const { return m_hSession; }
    // True when the vendor steps are done with standard calls; ModuleHasVendorEntries tells
    // whether that was forced.
    bool UsesStandardCalls() const;
    bool ModuleHasVendorEntries() const;

protected:
    // CheckTokenAndPin, a new session, C_Login: the login's result; failures before it throw.
    CK_RV OpenSessionAndLogIn(const std::vector<unsigned char>& pin, unsigned long userType, unsigned long flags);

    void LoadPkcsDll();
    // dlopen of the installed software token module; on success it is the module's path.
    void OpenInstalledModule();
    CK_FUNCTION_LIST* InitPkcsFunctionList();
    CK_TOKEN_INFO ReadTokenInfo(CK_SLOT_ID slotId, const char* operation);
    // The module's C_GetInterface (PKCS#11 3.0), or null when it exports none.
    CK_C_GetInterface PublishedGetInterface() const;
    // C_Initialize with a null argument, or with the library parameters in pReserved.
    CK_RV InitializeModule(const std::optional<std::string>& initArgs);
    // The vendor entries that follow the standard list.
    const CK_KTL_FUNCTION_LIST* VendorFunctions() const;

    void* m_hModule;
    CK_FUNCTION_LIST* m_pFunctionList;
    CK_SLOT_ID m_slotId;
    CK_SESSION_HANDLE m_hSession;

private:
    std::string m_modulePath;
    std::vector<char> m_initArgs;
    std::unique_ptr<CFunctionListLayer> m_layer;
    std::vector<CK_SLOT_ID> GetSlots(CK_BBOOL tokenPresent, const char* operation);
    CK_SLOT_INFO ReadSlotInfo(CK_SLOT_ID slotId);
    // The prompt's line for one slot: description, then the token's label and serial number.
    std::string SlotChoiceText(CK_SLOT_ID slotId);
    CK_SLOT_ID RequireFixedSlot(const std::vector<CK_SLOT_ID>& slotsWithToken) const;
    CK_SLOT_ID RequireWantedToken(const std::vector<CK_SLOT_ID>& slotsWithToken);

    std::optional<CK_SLOT_ID> m_fixedSlot;
    std::optional<CTokenIdentity> m_wantedToken;
    // Set once SelectSlot or SetCurrentSlot has chosen m_slotId; Finalize closes the
    // sessions of no other slot.
    bool m_slotChosen = false;
};
