#pragma once
// What a token's information says about it: its identity as text, the state of its PINs,
// and the guard that refuses to use a PIN the token shows locked or at its final try.
#include <cstddef>
#include <string>

#include <p11-kit/pkcs11.h>

class CTokenState {
public:
    // A blank-padded text field of the standard: up to the first NUL, trailing blanks removed.
    static std::string Field(const unsigned char* field, std::size_t size);
    // "SO PIN" or "user PIN".
    static std::string PinName(CK_USER_TYPE userType);
    // "ok", or the PIN's warnings among "count low", "final try", "locked".
    static std::string PinState(CK_FLAGS flags, CK_USER_TYPE userType);
    // "initialized: yes, user PIN initialized: no, login required: yes".
    static std::string TokenFlags(CK_FLAGS flags);
    // The lines of one token in the slot listing, each indented and ended by "\r\n".
    static std::string Describe(const CK_TOKEN_INFO& info);

    // Whether the PIN flags mean anything: a token not yet initialised has no PINs to lose,
    // whatever its flags show (some show a fresh token's SO PIN locked).
    static bool PinFlagsApply(CK_FLAGS flags);
    // Whether either PIN is locked or at its final try.
    static bool AnyPinAtRisk(CK_FLAGS flags);
    // Throws CPinGuardException when the PIN of userType is locked or at its final try on an
    // initialised token.
    static void GuardPin(CK_FLAGS flags, CK_USER_TYPE userType);
};
