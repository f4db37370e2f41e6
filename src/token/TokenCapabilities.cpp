#include "token/TokenCapabilities.h"

#include <algorithm>
#include <cstdio>

#include "support/PkcsNames.h"

namespace {

// The mechanisms by which a token shows that it knows a key type at all.
struct KeyTypeMechanisms {
    CK_KEY_TYPE keyType;
    std::vector<CK_MECHANISM_TYPE> mechanisms;
};

const std::vector<KeyTypeMechanisms>& KnownKeyTypes()
{
    static const std::vector<KeyTypeMechanisms> table = {
        {CKK_RSA,
         {CKM_RSA_PKCS_KEY_PAIR_GEN, CKM_RSA_PKCS, CKM_RSA_X_509, CKM_RSA_PKCS_OAEP, CKM_RSA_PKCS_PSS,
          CKM_SHA1_RSA_PKCS, CKM_SHA256_RSA_PKCS, CKM_SHA384_RSA_PKCS, CKM_SHA512_RSA_PKCS,
          CKM_SHA1_RSA_PKCS_PSS, CKM_SHA256_RSA_PKCS_PSS, CKM_SHA384_RSA_PKCS_PSS, CKM_SHA512_RSA_PKCS_PSS}},
        {CKK_GOSTR3410,
         {CKM_GOSTR3410_KEY_PAIR_GEN, CKM_GOSTR3410, CKM_GOSTR3410_WITH_GOSTR3411, CKM_GOSTR3410_KEY_WRAP,
          CKM_GOSTR3410_DERIVE}},
        {CKK_GOST28147,
         {CKM_GOST28147_KEY_GEN, CKM_GOST28147_ECB, CKM_GOST28147, CKM_GOST28147_MAC, CKM_GOST28147_KEY_WRAP}},
    };
    return table;
}

std::string NameOf(const char* name, unsigned long value, const char* kind)
{
    if (name != nullptr) {
        return name;
    }
    char text[24];
    std::snprintf(text, sizeof(text), "0x%lx", value);
    return std::string(kind) + " " + text;
}

std::string MechanismName(CK_MECHANISM_TYPE type) { return NameOf(CPkcsNames::Mechanism(type), type, "mechanism"); }

std::string FlagNames(CK_FLAGS flags)
{
    static const std::vector<std::pair<CK_FLAGS, const char*>> names = {
        {CKF_GENERATE, "CKF_GENERATE"}, {CKF_GENERATE_KEY_PAIR, "CKF_GENERATE_KEY_PAIR"},
        {CKF_SIGN, "CKF_SIGN"},         {CKF_VERIFY, "CKF_VERIFY"},
    };
    std::string text;
    for (const auto& name : names) {
        if ((flags & name.first) != 0) {
            text += (text.empty() ? "" : ", ") + std::string(name.second);
        }
    }
    return text;
}

// The mechanism list by the two-call length protocol; CKR_BUFFER_TOO_SMALL (a list that
// grew between the calls) asks again.
CK_RV ReadMechanismList(CK_FUNCTION_LIST* functions, CK_SLOT_ID slot, std::vector<CK_MECHANISM_TYPE>& list)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        CK_ULONG count = 0;
        CK_RV rv = functions->C_GetMechanismList(slot, nullptr, &count);
        if (rv != CKR_OK) {
            return rv;
        }
        list.assign(count, 0);
        rv = functions->C_GetMechanismList(slot, list.data(), &count);
        if (rv == CKR_BUFFER_TOO_SMALL) {
            continue;
        }
        if (rv == CKR_OK) {
            list.resize(std::min<CK_ULONG>(count, list.size()));
        }
        return rv;
    }
    return CKR_BUFFER_TOO_SMALL;
}

std::string CouldNotRead(const char* call, CK_RV rv, const std::string& consequence)
{
    return std::string("The token's ") + call + " answered " + NameOf(CPkcsNames::ReturnValue(rv), rv, "code") + ": " + consequence;
}

}  // namespace

CTokenCapabilities CTokenCapabilities::Read(CK_FUNCTION_LIST* functions, CK_SLOT_ID slot,
                                            const std::vector<CK_MECHANISM_TYPE>& needed,
                                            std::vector<std::string>& notes)
{
    CTokenCapabilities capabilities;
    CK_TOKEN_INFO token = {};
    const CK_RV tokenRv = functions->C_GetTokenInfo(slot, &token);
    if (tokenRv == CKR_OK) {
        capabilities.m_writeProtected = (token.flags & CKF_WRITE_PROTECTED) != 0;
        if ((token.flags & CKF_LOGIN_REQUIRED) == 0) {
            notes.push_back("The token requires no login (no CKF_LOGIN_REQUIRED): the steps log in all the same");
        }
    } else {
        notes.push_back(CouldNotRead("C_GetTokenInfo", tokenRv, "no step is skipped for the token's flags"));
    }

    std::vector<CK_MECHANISM_TYPE> list;
    const CK_RV listRv = ReadMechanismList(functions, slot, list);
    if (listRv != CKR_OK) {
        notes.push_back(CouldNotRead("C_GetMechanismList", listRv, "no step is skipped for its mechanisms"));
        return capabilities;
    }
    capabilities.m_mechanisms = list;
    for (CK_MECHANISM_TYPE type : needed) {
        if (!capabilities.Lists(type) || capabilities.m_info.count(type) != 0) {
            continue;
        }
        CK_MECHANISM_INFO info = {};
        const CK_RV rv = functions->C_GetMechanismInfo(slot, type, &info);
        if (rv == CKR_OK) {
            capabilities.m_info[type] = info;
        } else {
            notes.push_back(CouldNotRead("C_GetMechanismInfo", rv, "its key sizes and flags are not checked for " +
                                                                       MechanismName(type)));
        }
    }
    return capabilities;
}

bool CTokenCapabilities::Lists(CK_MECHANISM_TYPE type) const
{
    return !m_mechanisms || std::find(m_mechanisms->begin(), m_mechanisms->end(), type) != m_mechanisms->end();
}

std::optional<std::string> CTokenCapabilities::ReasonAgainst(const CTokenNeeds& needs) const
{
    if (needs.writes && m_writeProtected) {
        return std::string("the token is write-protected (CKF_WRITE_PROTECTED)");
    }
    if (needs.keyType) {
        if (std::optional<std::string> reason = ReasonAgainstKeyType(*needs.keyType)) {
            return reason;
        }
    }
    for (const CMechanismNeed& need : needs.mechanisms) {
        if (std::optional<std::string> reason = ReasonAgainst(need)) {
            return reason;
        }
    }
    return std::nullopt;
}

std::optional<std::string> CTokenCapabilities::ReasonAgainstKeyType(CK_KEY_TYPE keyType) const
{
    for (const KeyTypeMechanisms& known : KnownKeyTypes()) {
        if (known.keyType != keyType) {
            continue;
        }
        const bool any = std::any_of(known.mechanisms.begin(), known.mechanisms.end(),
                                     [this](CK_MECHANISM_TYPE type) { return Lists(type); });
        if (!any) {
            return "the token lists no mechanism for " + NameOf(CPkcsNames::KeyType(keyType), keyType, "key type") +
                   " keys";
        }
    }
    return std::nullopt;
}

std::optional<std::string> CTokenCapabilities::ReasonAgainst(const CMechanismNeed& need) const
{
    const std::string name = MechanismName(need.type);
    if (!Lists(need.type)) {
        return "the token lists no " + name;
    }
    const auto info = m_info.find(need.type);
    if (info == m_info.end()) {
        return std::nullopt;
    }
    const CK_FLAGS missing = need.flags & ~info->second.flags;
    if (missing != 0) {
        return "the token's " + name + " lacks " + FlagNames(missing);
    }
    // A maximum of 0 tells no sizes.
    const CK_ULONG minimum = info->second.ulMinKeySize;
    const CK_ULONG maximum = info->second.ulMaxKeySize;
    if (need.keyBits != 0 && maximum != 0 && (need.keyBits < minimum || need.keyBits > maximum)) {
        return "the token's " + name + " takes keys of " + std::to_string(minimum) + " to " + std::to_string(maximum) +
               " bits, not " + std::to_string(need.keyBits);
    }
    return std::nullopt;
}
