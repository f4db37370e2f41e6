#include "token/TokenState.h"

#include <cstring>

#include "support/PinGuardException.h"

namespace {

struct PinFlags {
    CK_FLAGS countLow;
    CK_FLAGS finalTry;
    CK_FLAGS locked;
};

PinFlags FlagsOf(CK_USER_TYPE userType)
{
    if (userType == CKU_SO) {
        return {CKF_SO_PIN_COUNT_LOW, CKF_SO_PIN_FINAL_TRY, CKF_SO_PIN_LOCKED};
    }
    return {CKF_USER_PIN_COUNT_LOW, CKF_USER_PIN_FINAL_TRY, CKF_USER_PIN_LOCKED};
}

const char* YesNo(CK_FLAGS flags, CK_FLAGS flag) { return (flags & flag) != 0 ? "yes" : "no"; }

std::string Capitalized(std::string text)
{
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') {
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    }
    return text;
}

}  // namespace

std::string CTokenState::Field(const unsigned char* field, std::size_t size)
{
    const char* text = reinterpret_cast<const char*>(field);
    std::string value(text, strnlen(text, size));
    value.erase(value.find_last_not_of(' ') + 1);
    return value;
}

std::string CTokenState::PinName(CK_USER_TYPE userType) { return userType == CKU_SO ? "SO PIN" : "user PIN"; }

std::string CTokenState::PinState(CK_FLAGS flags, CK_USER_TYPE userType)
{
    const PinFlags pin = FlagsOf(userType);
    std::string state;
    for (const auto& warning : {std::make_pair(pin.countLow, "count low"), std::make_pair(pin.finalTry, "final try"),
                                std::make_pair(pin.locked, "locked")}) {
        if ((flags & warning.first) != 0) {
            state += (state.empty() ? "" : ", ") + std::string(warning.second);
        }
    }
    return state.empty() ? "ok" : state;
}

std::string CTokenState::TokenFlags(CK_FLAGS flags)
{
    return std::string("initialized: ") + YesNo(flags, CKF_TOKEN_INITIALIZED) +
           ", user PIN initialized: " + YesNo(flags, CKF_USER_PIN_INITIALIZED) +
           ", login required: " + YesNo(flags, CKF_LOGIN_REQUIRED);
}

std::string CTokenState::Describe(const CK_TOKEN_INFO& info)
{
    return "  label \"" + Field(info.label, sizeof(info.label)) + "\", manufacturer \"" +
           Field(info.manufacturerID, sizeof(info.manufacturerID)) + "\", model \"" +
           Field(info.model, sizeof(info.model)) + "\", serial number \"" +
           Field(info.serialNumber, sizeof(info.serialNumber)) + "\"\r\n" +
           "  " + TokenFlags(info.flags) + "\r\n" +
           "  SO PIN: " + PinState(info.flags, CKU_SO) + ", user PIN: " + PinState(info.flags, CKU_USER) + "\r\n";
}

bool CTokenState::PinFlagsApply(CK_FLAGS flags) { return (flags & CKF_TOKEN_INITIALIZED) != 0; }

bool CTokenState::AnyPinAtRisk(CK_FLAGS flags)
{
    return PinFlagsApply(flags) && (flags & (CKF_SO_PIN_FINAL_TRY | CKF_SO_PIN_LOCKED | CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED)) != 0;
}

void CTokenState::GuardPin(CK_FLAGS flags, CK_USER_TYPE userType)
{
    if (!PinFlagsApply(flags)) {
        return;
    }
    const PinFlags pin = FlagsOf(userType);
    const char* reason = nullptr;
    if ((flags & pin.locked) != 0) {
        reason = " is locked";
    } else if ((flags & pin.finalTry) != 0) {
        reason = " is at its final try";
    } else {
        return;
    }
    throw CPinGuardException(Capitalized(PinName(userType)) + reason +
                             ": not trying it; reset the token's PIN before testing it");
}
