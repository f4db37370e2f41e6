// Exported entries for the library, slots, tokens, PINs, sessions, login and random data.
#include "objects/BlankPadded.h"
#include "entries/EntryGuard.h"
#include "mechanisms/MechanismTable.h"
#include "store/StoreCipher.h"
#include "objects/WipeGuard.h"

#include <algorithm>
#include <string>

using namespace softtoken;

namespace {

template <typename T>
CK_RV ListToCaller(const std::vector<T>& items, T* out, CK_ULONG_PTR count) {
    if (out != nullptr) {
        if (*count < items.size()) {
            *count = items.size();
            return CKR_BUFFER_TOO_SMALL;
        }
        std::copy(items.begin(), items.end(), out);
    }
    *count = items.size();
    return CKR_OK;
}

// A key with CKA_ALWAYS_AUTHENTICATE: the user PIN once more for the operation just
// initialised with it, which then may run to its end.
CK_RV ContextLogin(Session& session, Token& token, const Bytes& pin) {
    const bool signing = session.signing.Active() && session.signing.needsContextLogin;
    const bool decrypting = session.decrypting.Active() && session.decrypting.needsContextLogin;
    Require(signing || decrypting, CKR_OPERATION_NOT_INITIALIZED);
    token.ConfirmUserPin(pin);
    session.signing.needsContextLogin = false;
    session.decrypting.needsContextLogin = false;
    return CKR_OK;
}

}  // namespace

extern "C" {

CK_RV C_Initialize(CK_VOID_PTR initArgs) {
    try {
        std::lock_guard<std::mutex> lock(Module::Lock());
        Module* module = Module::Instance();
        Require(module != nullptr, CKR_GENERAL_ERROR);  // the process is exiting
        module->Initialize(static_cast<const CK_C_INITIALIZE_ARGS*>(initArgs));
        return CKR_OK;
    } catch (const Pkcs11Error& error) {
        return error.Rv();
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

CK_RV C_Finalize(CK_VOID_PTR reserved) {
    return Guarded([&](Module& module) {
        Require(reserved == nullptr, CKR_ARGUMENTS_BAD);
        module.Finalize();
        return CKR_OK;
    });
}

CK_RV C_GetInfo(CK_INFO_PTR info) {
    return Guarded([&](Module&) {
        Require(info != nullptr, CKR_ARGUMENTS_BAD);
        std::memset(info, 0, sizeof *info);
        info->cryptokiVersion = {2, 40};
        BlankPadded(info->manufacturerID, sizeof info->manufacturerID, "tokentest");
        BlankPadded(info->libraryDescription, sizeof info->libraryDescription, "tokentest software token");
        info->libraryVersion = {1, 0};
        return CKR_OK;
    });
}

CK_RV C_GetSlotList(CK_BBOOL, CK_SLOT_ID_PTR slots, CK_ULONG_PTR count) {
    return Guarded([&](Module& module) {
        Require(count != nullptr, CKR_ARGUMENTS_BAD);
        // Every slot always holds its token.
        std::vector<CK_SLOT_ID> all(module.SlotCount());
        for (CK_SLOT_ID slot = 0; slot < all.size(); ++slot) all[slot] = slot;
        return ListToCaller(all, slots, count);
    });
}

CK_RV C_GetSlotInfo(CK_SLOT_ID slot, CK_SLOT_INFO_PTR info) {
    return Guarded([&](Module& module) {
        Require(info != nullptr, CKR_ARGUMENTS_BAD);
        module.TokenAt(slot);
        std::memset(info, 0, sizeof *info);
        BlankPadded(info->slotDescription, sizeof info->slotDescription, "tokentest software slot " + std::to_string(slot));
        BlankPadded(info->manufacturerID, sizeof info->manufacturerID, "tokentest");
        info->flags = CKF_TOKEN_PRESENT;
        info->hardwareVersion = {1, 0};
        info->firmwareVersion = {1, 0};
        return CKR_OK;
    });
}

CK_RV C_GetTokenInfo(CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info) {
    return Guarded([&](Module& module) {
        Require(info != nullptr, CKR_ARGUMENTS_BAD);
        module.TokenAt(slot).FillInfo(*info, module.SessionCount(slot, false), module.SessionCount(slot, true));
        return CKR_OK;
    });
}

CK_RV C_GetMechanismList(CK_SLOT_ID slot, CK_MECHANISM_TYPE_PTR mechanisms, CK_ULONG_PTR count) {
    return Guarded([&](Module& module) {
        Require(count != nullptr, CKR_ARGUMENTS_BAD);
        module.TokenAt(slot);
        return ListToCaller(MechanismTable::Types(), mechanisms, count);
    });
}

CK_RV C_GetMechanismInfo(CK_SLOT_ID slot, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR info) {
    return Guarded([&](Module& module) {
        Require(info != nullptr, CKR_ARGUMENTS_BAD);
        module.TokenAt(slot);
        Require(MechanismTable::Info(type, *info), CKR_MECHANISM_INVALID);
        return CKR_OK;
    });
}

CK_RV C_InitToken(CK_SLOT_ID slot, CK_UTF8CHAR_PTR pin, CK_ULONG pinLength, CK_UTF8CHAR_PTR label) {
    return Guarded([&](Module& module) {
        Require(pin != nullptr && label != nullptr, CKR_ARGUMENTS_BAD);
        Bytes soPin = FromCaller(pin, pinLength);
        WipeGuard wipe(soPin);
        Token& token = module.TokenAt(slot);
        Require(module.SessionCount(slot, false) == 0, CKR_SESSION_EXISTS);
        token.Initialize(soPin, Bytes(label, label + 32));
        return CKR_OK;
    });
}

CK_RV C_InitPIN(CK_SESSION_HANDLE handle, CK_UTF8CHAR_PTR pin, CK_ULONG pinLength) {
    return Guarded([&](Module& module) {
        Require(pin != nullptr, CKR_ARGUMENTS_BAD);
        Bytes userPin = FromCaller(pin, pinLength);
        WipeGuard wipe(userPin);
        Session& session = module.SessionAt(handle);
        Require(session.IsReadWrite(), CKR_SESSION_READ_ONLY);
        module.TokenOf(session).InitUserPin(userPin);
        return CKR_OK;
    });
}

CK_RV C_SetPIN(CK_SESSION_HANDLE handle, CK_UTF8CHAR_PTR oldPin, CK_ULONG oldLength, CK_UTF8CHAR_PTR newPin,
               CK_ULONG newLength) {
    return Guarded([&](Module& module) {
        Require(oldPin != nullptr && newPin != nullptr, CKR_ARGUMENTS_BAD);
        Bytes oldValue = FromCaller(oldPin, oldLength);
        WipeGuard wipeOld(oldValue);
        Bytes newValue = FromCaller(newPin, newLength);
        WipeGuard wipeNew(newValue);
        Session& session = module.SessionAt(handle);
        Require(session.IsReadWrite(), CKR_SESSION_READ_ONLY);
        module.TokenOf(session).ChangePin(oldValue, newValue);
        return CKR_OK;
    });
}

CK_RV C_OpenSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR handle) {
    return Guarded([&](Module& module) {
        Require(handle != nullptr, CKR_ARGUMENTS_BAD);
        *handle = module.OpenSession(slot, flags);
        return CKR_OK;
    });
}

CK_RV C_CloseSession(CK_SESSION_HANDLE handle) {
    return Guarded([&](Module& module) {
        module.CloseSession(handle);
        return CKR_OK;
    });
}

CK_RV C_CloseAllSessions(CK_SLOT_ID slot) {
    return Guarded([&](Module& module) {
        module.CloseAllSessions(slot);
        return CKR_OK;
    });
}

CK_RV C_GetSessionInfo(CK_SESSION_HANDLE handle, CK_SESSION_INFO_PTR info) {
    return Guarded([&](Module& module) {
        Require(info != nullptr, CKR_ARGUMENTS_BAD);
        Session& session = module.SessionAt(handle);
        const bool rw = session.IsReadWrite();
        std::memset(info, 0, sizeof *info);
        info->slotID = session.Slot();
        info->flags = session.Flags();
        switch (module.TokenOf(session).State()) {
        case Token::Login::None:
            info->state = rw ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
            break;
        case Token::Login::User:
            info->state = rw ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
            break;
        case Token::Login::SecurityOfficer:
            info->state = CKS_RW_SO_FUNCTIONS;
            break;
        }
        return CKR_OK;
    });
}

CK_RV C_Login(CK_SESSION_HANDLE handle, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pin, CK_ULONG pinLength) {
    return Guarded([&](Module& module) {
        Require(pin != nullptr, CKR_ARGUMENTS_BAD);
        Bytes value = FromCaller(pin, pinLength);
        WipeGuard wipe(value);
        Session& session = module.SessionAt(handle);
        Token& token = module.TokenOf(session);
        if (userType == CKU_CONTEXT_SPECIFIC) return ContextLogin(session, token, value);
        Require(userType == CKU_SO || userType == CKU_USER, CKR_USER_TYPE_INVALID);
        const bool readOnlyExists = module.SessionCount(session.Slot(), false) != module.SessionCount(session.Slot(), true);
        if (userType == CKU_SO && token.State() == Token::Login::None)
            Require(!readOnlyExists, CKR_SESSION_READ_ONLY_EXISTS);
        token.LogIn(userType, value);
        return CKR_OK;
    });
}

CK_RV C_Logout(CK_SESSION_HANDLE handle) {
    return Guarded([&](Module& module) {
        Session& session = module.SessionAt(handle);
        module.TokenOf(session).LogOut();
        // Keys opened by the login are closed again: nothing may go on using them.
        module.EndOperations(session.Slot());
        return CKR_OK;
    });
}

CK_RV C_SeedRandom(CK_SESSION_HANDLE handle, CK_BYTE_PTR seed, CK_ULONG length) {
    return Guarded([&](Module& module) {
        Require(seed != nullptr || length == 0, CKR_ARGUMENTS_BAD);
        module.SessionAt(handle);
        return CKR_RANDOM_SEED_NOT_SUPPORTED;
    });
}

CK_RV C_GenerateRandom(CK_SESSION_HANDLE handle, CK_BYTE_PTR out, CK_ULONG length) {
    return Guarded([&](Module& module) {
        Require(out != nullptr || length == 0, CKR_ARGUMENTS_BAD);
        module.SessionAt(handle);
        Bytes random = StoreCipher::Random(length);
        if (length) std::memcpy(out, random.data(), length);
        return CKR_OK;
    });
}

CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE handle) {
    return Guarded([&](Module& module) {
        module.SessionAt(handle);
        return CKR_FUNCTION_NOT_PARALLEL;
    });
}

CK_RV C_CancelFunction(CK_SESSION_HANDLE handle) {
    return Guarded([&](Module& module) {
        module.SessionAt(handle);
        return CKR_FUNCTION_NOT_PARALLEL;
    });
}

}  // extern "C"
