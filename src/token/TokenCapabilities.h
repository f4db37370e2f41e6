#pragma once
// What a token says it can do, read once before the passes of a --keep-going run: its
// write protection and login flags, its mechanism list and the information of the
// mechanisms the steps need. Answers why a step cannot run on it, if it cannot.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <p11-kit/pkcs11.h>

// One mechanism a step uses: with these CKF_ flags and, when not 0, a key of this size.
struct CMechanismNeed {
    CK_MECHANISM_TYPE type = 0;
    CK_FLAGS flags = 0;
    CK_ULONG keyBits = 0;
};

// What a step asks of the token.
struct CTokenNeeds {
    std::vector<CMechanismNeed> mechanisms;
    // A key of this type is imported or used: the token must list some mechanism for it.
    std::optional<CK_KEY_TYPE> keyType;
    // The step writes to the token (objects, PINs, a read/write session).
    bool writes = false;
};

class CTokenCapabilities {
public:
    // A token that told nothing: every step may run.
    CTokenCapabilities() = default;

    // Reads the flags of the token in `slot`, its mechanism list and the information of
    // each mechanism in `needed`. What could not be read is told in `notes`, one line each,
    // and then restricts nothing; so is a token that requires no login.
    static CTokenCapabilities Read(CK_FUNCTION_LIST* functions, CK_SLOT_ID slot,
                                   const std::vector<CK_MECHANISM_TYPE>& needed, std::vector<std::string>& notes);

    // Why the token cannot do what `needs` asks ("the token lists no CKM_..."), or nothing.
    std::optional<std::string> ReasonAgainst(const CTokenNeeds& needs) const;

    bool WriteProtected() const { return m_writeProtected; }

private:
    std::optional<std::string> ReasonAgainst(const CMechanismNeed& need) const;
    std::optional<std::string> ReasonAgainstKeyType(CK_KEY_TYPE keyType) const;
    bool Lists(CK_MECHANISM_TYPE type) const;

    bool m_writeProtected = false;
    // Empty when the list could not be read: nothing is then known about mechanisms.
    std::optional<std::vector<CK_MECHANISM_TYPE>> m_mechanisms;
    // Only the mechanisms whose information the token gave.
    std::map<CK_MECHANISM_TYPE, CK_MECHANISM_INFO> m_info;
};
